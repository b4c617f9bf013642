#pragma once
#include <windows.h>

#include <memory>

#include "util/Handles.h"
#include "util/Images.h"

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
    // Ends after the wizard window, which InitInstance runs and destroys.
    std::unique_ptr<GdiplusSession> gdiplus;
};
