#include <windows.h>

#include "TamselApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    {
        CTamselApp app;
        app.InitInstance();
    }
    // Workers nobody waits for (a configuration request still retrying after
    // the user quit, an image download) may still run. Ending the process here
    // stops them before the runtime destroys the objects they use.
    ::ExitProcess(0);
}
