// Quorv: the augmented-reality exhibit viewer. Builds the viewer (camera, calibration, video
// background), tells the visitor that the exhibit is loading, sets up the exhibit and renders
// until the viewer's window is closed.
#include "App.h"
#include "LoadingNotice.h"

#include <OsgArt.h>

int main() {
    App app;
    showLoadingNotice("Cargando Quorv",
                      "Quorv está iniciándose.\n"
                      "Este proceso puede tardar unos segundos.\n"
                      "Presione Aceptar para continuar.\n");
    app.setUpExhibit();
    app.runFrameLoop();
    app.tearDown();
    // The viewer outlives the application record; its drawing and capture threads stop here,
    // before the process's static data goes.
    app.viewer->stopThreads();
    return 0;
}
