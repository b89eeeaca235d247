// The Windows entry: prepares the Win32 shell, builds the application, shows the loading
// notice, then sets up the exhibit, runs the frame loop and tears down.
#include "App.h"
#include "WinShell.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPWSTR /*commandLine*/,
                    int /*showCommand*/) {
    // The shell's strings, class and accelerators; failures change nothing and are not checked.
    LoadStringW(instance, IDS_APP_TITLE, shellTitle, kShellStringLength);
    LoadStringW(instance, IDC_QUORV, shellClassName, kShellStringLength);
    registerShellWindowClass(instance);
    shellInstance = instance;
    LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_QUORV));  // no message loop uses it

    // Creates the viewer (which ends the process on a start-up failure), the sound library and
    // the movie manager.
    App app;

    // "Quorv está iniciándose.", ...: the accented letters are written as escapes so that the
    // text does not depend on the compiler's source character set.
    MessageBoxW(nullptr,
                L"Quorv est\u00e1 inici\u00e1ndose.\n"
                L"Este proceso puede tardar unos segundos.\n"
                L"Presione Aceptar para continuar.\n",
                L"Cargando Quorv", MB_OK | MB_ICONINFORMATION);

    app.setUpExhibit();
    app.runFrameLoop();
    app.tearDown();
    return 0;
}
