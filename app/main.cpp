#include <windows.h>

#include "TamselApp.h"
#include "util/SystemLibrary.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything loads a DLL that is not imported at start-up.
    RestrictDllSearchToSystemFolder();
    {
        CTamselApp app;
        app.InitInstance();
    }
    // Workers nobody waits for (a configuration request still retrying after
    // the user quit, an image download) may still run. Ending the process here
    // stops them before the runtime destroys the objects they use.
    ::ExitProcess(0);
}
