#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "Dialog.h"
#include "StaticFromImage.h"
#include "WizardFlow.h"
#include "pages/IPage.h"
#include "util/Handles.h"

class ConfigurationManager;
class ErrorPage;
class LanguageManager;
class LoadingPage;
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

    void OnOK() override {}
    // Escape closes the wizard the way its close button does.
    void OnCancel() override { OnClose(); }

    // Creates the first pages of the sequence and shows the first one.
    bool CreateInitialPages();
    void CreatePage(IPage& page, const RECT& rect);
    void CreateAndAddPage(std::unique_ptr<IPage> page, const RECT& rect);
    // The rest of the sequence, once the offers have arrived.
    void OnLoadCompleteMessage();
    void OnButton(ButtonType button);
    void GoToPage(size_t index);
    void ShowErrorPage(const std::wstring& title, const std::wstring& text);
    void OnClose();
    void CleanUpTempFolder();

private:
    void OnSysCommand(UINT id, LPARAM lParam, LRESULT& result, bool& handled);
    void OnPaint(bool& handled);
    RECT PageRect() const;
    void StartMainPackage();
    void AllowClosing(bool allowed);
    // Cuts the loading page's workers off before anything they reach goes.
    void RevokeWorkers();
    // Until every event reported so far has been delivered or dropped: the
    // process ends with the wizard, and with it any event still on its way.
    void WaitForReports();

    HICON icon = nullptr;
    std::shared_ptr<ConfigurationManager> config;
    std::vector<std::unique_ptr<IPage>> pages;
    std::unique_ptr<ErrorPage> errorPage;
    LoadingPage* loadingPage = nullptr;  // owned by pages
    std::shared_ptr<LanguageManager> languageManager;
    WizardFlow flow;
    bool errorShown = false;
    bool installing = false;
    HWND titleText = nullptr;
    CStaticFromImage productIcon;
    HWND headerLine = nullptr;
    tamsel::GdiObject accentBrush;
    HWND bottomStrip = nullptr;
    // Filled by the loading page's completion on a worker thread; read here
    // only after WM_LOAD_COMPLETE.
    std::vector<std::shared_ptr<Package>> offers;
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
