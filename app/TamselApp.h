#pragma once
#include <windows.h>

#include "util/Handles.h"

// The application: starts the common controls, the rich-edit library and
// GDI+, then runs the wizard window once.
class CTamselApp {
public:
    CTamselApp();
    ~CTamselApp();
    CTamselApp(const CTamselApp&) = delete;
    CTamselApp& operator=(const CTamselApp&) = delete;

    // Always false: the process ends when the wizard window has closed.
    bool InitInstance();

private:
    ULONG_PTR gdiplusToken = 0;
    bool gdiplusStarted = false;
    tamsel::ModuleHandle richEdit;
};
