#include "TamselApp.h"

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "TamselDlg.h"
#include "config/ConfigurationManager.h"

CTamselApp::CTamselApp() = default;

CTamselApp::~CTamselApp() {
    if (gdiplusStarted) Gdiplus::GdiplusShutdown(gdiplusToken);
}

bool CTamselApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    // The offer pages use the rich-edit control; without it no wizard is shown.
    richEdit.Reset(::LoadLibraryW(L"RICHED32.DLL"));
    if (!richEdit) return false;

    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback
    gdiplusStarted = Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) == Gdiplus::Ok;

    auto dialog = std::make_unique<CTamselDlg>();
    dialog->SetBackgroundColor(GetConfiguration()->backgroundColor);
    dialog->DoModal();
    dialog.reset();
    return false;
}
