#include "TamselDlg.h"

#include <string>

#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "pages/IPage.h"
#include "pages/LanguagePage.h"
#include "resources/resource.h"
#include "util/Text.h"

std::wstring SingleInstanceMutexName(const char* wizardTypeName) {
    return L"Global\\Tamsel" + AnsiToWide(wizardTypeName, CP_ACP) + L"SingleInstanceMutex";
}

CTamselDlg::CTamselDlg()
    : ui::Dialog(IDD_TAMSEL_DIALOG), languageManager(std::make_shared<LanguageManager>()) {
    icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                           0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

CTamselDlg::~CTamselDlg() {
    // Decoded images must go while GDI+ still runs; the configuration itself
    // outlives the dialog and GDI+ is shut down after us.
    const auto config = GetConfiguration();
    config->productImage.reset();
    for (const auto& offer : config->acceptedOffers)
        if (offer) offer->ReleaseImage();
    for (const auto& offer : config->shownOffers)
        if (offer) offer->ReleaseImage();
    productIcon.SetImage(nullptr);
}

BOOL CTamselDlg::OnInitDialog() {
    titleText = GetItem(IDC_TITLE_TEXT);
    productIcon.Attach(GetItem(IDC_PRODUCT_ICON));
    headerLine = GetItem(IDC_HEADER_LINE);
    bottomStrip = GetItem(IDC_BOTTOM_STRIP);

    if (HMENU systemMenu = ::GetSystemMenu(hwnd_, FALSE)) {
        wchar_t about[128] = {};
        if (::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 128) > 0 && about[0]) {
            ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    instanceMutex.Reset(::CreateMutexW(nullptr, TRUE, SingleInstanceMutexName(CompiledWizardTypeName()).c_str()));
    const DWORD mutexError = ::GetLastError();
    if (instanceMutex && mutexError == ERROR_ALREADY_EXISTS) {
        instanceMutex.Reset();
        ::MessageBoxW(hwnd_, L"Another setup is already running, please close it and try again", L"Error",
                      MB_ICONERROR | MB_SYSTEMMODAL);
        EndDialog(1);
        return FALSE;
    }

    const auto config = GetConfiguration();
    std::wstring title;
    switch (config->wizardType) {
    case 1:
        title = std::wstring() + L"Setup";
        break;
    case 2:
        title = config->productTitle + L" ";
        break;
    default:
        ::MessageBoxW(hwnd_, L"Invalid wizard type", nullptr, MB_ICONERROR | MB_SYSTEMMODAL);
        EndDialog(1);
        return FALSE;
    }
    ::SetWindowTextW(hwnd_, title.c_str());
    accentBrush.Reset(::CreateSolidBrush(config->accentColor));
    ::SetWindowTextW(titleText, config->productTitle.c_str());

    CreateInitialPages();

    if (config->wizardType == 2) {
        ::ShowWindow(productIcon.GetSafeHwnd(), SW_HIDE);
        ::ShowWindow(headerLine, SW_HIDE);
    }
    ::ShowWindow(titleText, SW_HIDE);
    return TRUE;
}

bool CTamselDlg::CreateInitialPages() {
    RECT rect{};
    ::GetWindowRect(GetItem(IDC_PAGE_AREA), &rect);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);

    std::unique_ptr<IPage> languagePage;
    if (GetConfiguration()->btFlow)
        languagePage = std::make_unique<LanguagePageBT>(languageManager, hwnd_);
    else
        languagePage = std::make_unique<LanguagePage>(languageManager, hwnd_);
    CreateAndAddPage(std::move(languagePage), rect);

    currentPage = 0;
    if (pages.empty()) return false;
    ::ShowWindow(pages[0]->GetSafeHwnd(), SW_SHOW);
    ::SetFocus(pages[0]->GetSafeHwnd());
    return true;
}

void CTamselDlg::CreatePage(IPage& page, const RECT& rect) {
    page.Create(hwnd_);
    page.SetBackgroundColor(GetConfiguration()->backgroundColor);
    page.SetButtonCallback([this](ButtonType button) { OnButton(button); });
    ::ShowWindow(page.GetSafeHwnd(), SW_HIDE);
    ::SetWindowPos(page.GetSafeHwnd(), nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void CTamselDlg::CreateAndAddPage(std::unique_ptr<IPage> page, const RECT& rect) {
    CreatePage(*page, rect);
    pages.push_back(std::move(page));
}

void CTamselDlg::OnButton(ButtonType) {
    // The page sequence beyond the first page arrives with the loading page.
}

HBRUSH CTamselDlg::OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (control == bottomStrip && bottomStrip) {
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(accentBrush.Get());
    }
    return ui::Dialog::OnCtlColor(dc, control, kind);
}

bool CTamselDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    bool handled = false;
    switch (message) {
    case WM_SYSCOMMAND:
        OnSysCommand(static_cast<UINT>(wParam), lParam, result, handled);
        break;
    case WM_PAINT:
        OnPaint(handled);
        break;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(icon);
        handled = true;
        break;
    }
    return handled;
}

void CTamselDlg::OnSysCommand(UINT id, LPARAM, LRESULT& result, bool& handled) {
    if ((id & 0xFFF0) != IDM_ABOUTBOX) return;  // the system's own commands
    CAboutDlg about(hwnd_);
    about.DoModal();
    result = 0;
    handled = true;
}

void CTamselDlg::OnPaint(bool& handled) {
    if (!::IsIconic(hwnd_)) return;  // the dialog paints itself
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    ::SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rect;
    ::GetClientRect(hwnd_, &rect);
    const int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon);
    ::EndPaint(hwnd_, &ps);
    handled = true;
}

CAboutDlg::CAboutDlg(HWND parent) : ui::Dialog(IDD_ABOUTBOX, parent) {}

BOOL CAboutDlg::OnInitDialog() {
    const std::wstring text = L"Tamsel, Version " + GetConfiguration()->fileVersion;
    ::SetDlgItemTextW(hwnd_, IDC_ABOUT_VERSION, text.c_str());
    return TRUE;
}
