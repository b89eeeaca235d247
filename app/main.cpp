// Quorv: the augmented-reality exhibit viewer. Builds the viewer (camera, calibration, video
// background), tells the visitor that the exhibit is loading, sets up the exhibit and renders
// until the viewer's window is closed or an end signal (SIGTERM, SIGINT, SIGHUP) comes.
#include <OsgArt.h>

#include <cstdlib>
#include <cstring>
#include <osg/Notify>

#include "App.h"
#include "EndSignals.h"
#include "LoadingNotice.h"

namespace {

/// Why no window can be shown, for the fatal message.
std::string displayProblem() {
    const char* display = std::getenv("DISPLAY");
    return display && *display ? std::string("cannot open display ") + display
                               : std::string("DISPLAY is not set");
}

}  // namespace

int main() {
    quorv::app::catchEndSignals();
    App app;
    // Without a display the exhibit cannot go on: a fatal start-up error (status 255), so that
    // a supervisor does not take it for a chosen end.
    int status = 0;
    if (!showLoadingNotice("Cargando Quorv",
                           "Quorv está iniciándose.\n"
                           "Este proceso puede tardar unos segundos.\n"
                           "Presione Aceptar para continuar.\n")) {
        osg::notify(osg::FATAL) << "Quorv: no display to show the exhibit on (" << displayProblem()
                                << ")" << std::endl;
        status = 255;
    } else if (!quorv::app::endRequested()) {
        app.setUpExhibit();
        app.viewer->realize();
        if (app.viewer->isRealized()) {
            app.runFrameLoop();
        } else {
            osg::notify(osg::FATAL) << "Quorv: cannot open the exhibit's window ("
                                    << displayProblem() << ")" << std::endl;
            status = 255;
        }
    }
    if (const int signal = quorv::app::endSignal())
        osg::notify(osg::WARN) << "Quorv: " << strsignal(signal) << ", ending" << std::endl;
    app.tearDown();
    // The viewer outlives the application record; its drawing and capture threads stop here,
    // before the process's static data goes.
    app.viewer->stopThreads();
    return status;
}
