#include <windows.h>

#include "TamselApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CTamselApp app;
    app.InitInstance();
    return 0;
}
