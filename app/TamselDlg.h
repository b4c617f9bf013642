#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "Dialog.h"
#include "pages/IPage.h"
#include "StaticFromImage.h"
#include "util/Handles.h"

class LanguageManager;
class Package;

// The wizard window: header, page area and the coloured strip behind the
// pages' buttons.
class CTamselDlg : public ui::Dialog {
public:
    CTamselDlg();
    ~CTamselDlg() override;

    std::shared_ptr<LanguageManager> GetLanguageManager() const { return languageManager; }

protected:
    BOOL OnInitDialog() override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Creates the first pages of the sequence and shows the first one.
    bool CreateInitialPages();
    void CreatePage(IPage& page, const RECT& rect);
    void CreateAndAddPage(std::unique_ptr<IPage> page, const RECT& rect);
    void OnButton(ButtonType button);

private:
    void OnSysCommand(UINT id, LPARAM lParam, LRESULT& result, bool& handled);
    void OnPaint(bool& handled);

    HICON icon = nullptr;
    std::vector<std::unique_ptr<IPage>> pages;
    size_t currentPage = 0;
    std::unique_ptr<IPage> errorPage;
    std::shared_ptr<LanguageManager> languageManager;
    bool errorShown = false;
    bool installing = false;
    bool backPressed = false;
    HWND titleText = nullptr;
    CStaticFromImage productIcon;
    HWND headerLine = nullptr;
    tamsel::GdiObject accentBrush;
    HWND bottomStrip = nullptr;
    std::vector<std::shared_ptr<Package>> offers;
    int offerIndex = 0;
    bool skipAllClicked = false;
    bool stopAfterDecline = false;
    bool offerLimitReached = false;
    tamsel::KernelHandle instanceMutex;
};

// The About box (template 100).
class CAboutDlg : public ui::Dialog {
public:
    explicit CAboutDlg(HWND parent);

protected:
    BOOL OnInitDialog() override;
};

// Builds the single-instance mutex name for a compiled-in wizard type name.
std::wstring SingleInstanceMutexName(const char* wizardTypeName);
