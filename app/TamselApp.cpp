#include "TamselApp.h"

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "TamselDlg.h"
#include "config/ConfigurationManager.h"
#include "download/DownloadManager.h"
#include "pages/LicensePageIsv.h"

CTamselApp::CTamselApp() = default;

CTamselApp::~CTamselApp() = default;

bool CTamselApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    // The licence page uses the rich-edit control; without it no wizard is
    // shown. Loaded from the system folder only: the program starts from a
    // download folder, where a planted DLL of that name may lie.
    if (!EnsureRichEditLoaded()) return false;

    gdiplus = std::make_unique<GdiplusSession>();

    const auto config = GetConfiguration();
    const auto downloads = GetDownloadManager();
    downloads->downloadFolder = config->downloadFolder;
    downloads->tempFolder = config->tempFolder;

    auto dialog = std::make_unique<CTamselDlg>();
    dialog->SetBackgroundColor(config->backgroundColor);
    dialog->DoModal();
    dialog.reset();
    return false;
}
