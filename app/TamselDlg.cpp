#include "TamselDlg.h"

#include <string>

#include "api/Package.h"
#include "api/SignedRequest.h"
#include "config/ConfigurationManager.h"
#include "download/DownloadManager.h"
#include "locale/LanguageManager.h"
#include "pages/ConfigurationsPageBTClassic.h"
#include "pages/DownloadFinishPages.h"
#include "pages/ErrorPage.h"
#include "pages/IPage.h"
#include "pages/LanguagePage.h"
#include "pages/LicensePageIsv.h"
#include "pages/LoadingPage.h"
#include "pages/OptionsPageBTClassic.h"
#include "pages/ProductPage.h"
#include "pages/WarningPageBTClassic.h"
#include "pages/WelcomePageIsv.h"
#include "resources/resource.h"
#include "util/FolderRemoval.h"
#include "util/Text.h"
#include "util/WindowMessages.h"

std::wstring SingleInstanceMutexName(const char* wizardTypeName) {
    return L"Global\\Tamsel" + AnsiToWide(wizardTypeName, CP_ACP) + L"SingleInstanceMutex";
}

CTamselDlg::CTamselDlg()
    : ui::Dialog(IDD_TAMSEL_DIALOG),
      config(GetConfiguration()),
      languageManager(std::make_shared<LanguageManager>(config)),
      flow(*config, [](const std::shared_ptr<Package>& offer, const std::string& reason) {
          offer->SendEvent(2, nlohmann::json{{"13", reason}});
      }) {
    icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                           0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

CTamselDlg::~CTamselDlg() {
    RevokeWorkers();
    // Decoded images must go while GDI+ still runs; the configuration itself
    // outlives the dialog and GDI+ is shut down after us.
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

    std::wstring title;
    switch (config->wizardType) {
    case kWizardTypeDlm:
        title = std::wstring() + L"Setup";
        break;
    case kWizardTypeIsv:
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

    if (config->wizardType == kWizardTypeIsv) {
        ::ShowWindow(productIcon.GetSafeHwnd(), SW_HIDE);
        ::ShowWindow(headerLine, SW_HIDE);
    }
    ::ShowWindow(titleText, SW_HIDE);
    return TRUE;
}

RECT CTamselDlg::PageRect() const {
    RECT rect{};
    ::GetWindowRect(GetItem(IDC_PAGE_AREA), &rect);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool CTamselDlg::CreateInitialPages() {
    const RECT rect = PageRect();
    errorPage = std::make_unique<ErrorPage>(languageManager, config, hwnd_);
    CreatePage(*errorPage, rect);

    std::unique_ptr<IPage> languagePage;
    if (config->btFlow)
        languagePage = std::make_unique<LanguagePageBT>(languageManager, hwnd_);
    else
        languagePage = std::make_unique<LanguagePage>(languageManager, hwnd_);
    CreateAndAddPage(std::move(languagePage), rect);

    auto loading = std::make_unique<LoadingPage>(languageManager, config, hwnd_);
    loadingPage = loading.get();
    // Runs on a worker thread: store the list, then let the window thread go on.
    HWND dialog = hwnd_;
    loading->SetCompletionCallback([this, dialog](OfferList received) {
        offers = std::move(received);
        ::PostMessageW(dialog, WM_LOAD_COMPLETE, 0, 0);
    });
    CreateAndAddPage(std::move(loading), rect);

    if (pages.empty()) return false;
    ::ShowWindow(pages[0]->GetSafeHwnd(), SW_SHOW);
    ::SetFocus(pages[0]->GetSafeHwnd());
    return true;
}

void CTamselDlg::CreatePage(IPage& page, const RECT& rect) {
    page.Create(hwnd_);
    page.SetBackgroundColor(config->backgroundColor);
    page.SetButtonCallback([this](ButtonType button) { OnButton(button); });
    ::ShowWindow(page.GetSafeHwnd(), SW_HIDE);
    ::SetWindowPos(page.GetSafeHwnd(), nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void CTamselDlg::CreateAndAddPage(std::unique_ptr<IPage> page, const RECT& rect) {
    CreatePage(*page, rect);
    page->SetErrorCallback([this](const std::wstring& title, const std::wstring& text) { ShowErrorPage(title, text); });
    flow.AddPage(page->GetName());
    pages.push_back(std::move(page));
}

void CTamselDlg::OnLoadCompleteMessage() {
    // Once: the sequence beyond the loading page is built a single time.
    if (pages.size() != 2) return;
    // Reloads the texts, now with the product's title, on every page.
    languageManager->SetLanguage(config->languageName);
    if (config->wizardType == kWizardTypeDlm) {
        productIcon.SetImage(config->productImage);
        ::ShowWindow(productIcon.GetSafeHwnd(), SW_SHOW);
        ::SetWindowTextW(titleText, config->productTitle.c_str());
        ::SetWindowTextW(hwnd_, (config->productTitle + L" Setup").c_str());
        ::ShowWindow(titleText, SW_SHOW);
    }
    if (config->mainPackage) {
        const std::wstring offerId = config->wizardType == kWizardTypeDlm   ? config->productTitle
                                     : config->wizardType == kWizardTypeIsv ? config->appId
                                                                            : std::wstring();
        config->mainPackage->Reinitialise(BuildSignedRequest(*config), config->productTitle, offerId, config->productCfl,
                                          config->productCh);
    }

    const RECT rect = PageRect();
    if (config->btFlow && config->btClassicPages)
        CreateAndAddPage(std::make_unique<WarningPageBTClassic>(languageManager, config, hwnd_), rect);
    if (config->btFlow)
        CreateAndAddPage(std::make_unique<LicensePageIsv>(languageManager, config, hwnd_), rect);
    else
        CreateAndAddPage(std::make_unique<WelcomePageIsv>(languageManager, config, hwnd_), rect);
    for (const auto& offer : offers)
        CreateAndAddPage(std::make_unique<ProductPage>(languageManager, config, offer, hwnd_), rect);
    if (config->btClassicPages) {
        CreateAndAddPage(std::make_unique<OptionsPageBTClassic>(languageManager, config, hwnd_), rect);
        CreateAndAddPage(std::make_unique<ConfigurationsPageBTClassic>(languageManager, config, hwnd_), rect);
    }
    if (config->wizardType == kWizardTypeDlm) {
        CreateAndAddPage(std::make_unique<DownloadPageDlm>(languageManager, config, hwnd_), rect);
        CreateAndAddPage(std::make_unique<FinishPageDlm>(languageManager, config, hwnd_), rect);
    } else if (config->wizardType == kWizardTypeIsv) {
        auto download = std::make_unique<DownloadPageIsv>(languageManager, config, hwnd_);
        download->SetInstallStartedCallback([this] { installing = true; });
        download->SetInstallEndedCallback([this] { installing = false; });
        CreateAndAddPage(std::move(download), rect);
        CreateAndAddPage(std::make_unique<FinishPageIsv>(languageManager, config, hwnd_), rect);
    }
    flow.SetOffers(offers);
    OnButton(ButtonType::Next);
}

void CTamselDlg::StartMainPackage() {
    const bool isv = config->wizardType == kWizardTypeIsv;
    auto main = Package::CreateMain(BuildSignedRequest(*config), isv ? config->productTitle : std::wstring(),
                                    isv ? config->appId : std::wstring(), isv ? config->productCfl : std::wstring(),
                                    isv ? config->productCh : std::wstring(), EnvironmentFromConfiguration(config));
    config->mainPackage = main;
    main->SendEvent(1);
}

void CTamselDlg::OnButton(ButtonType button) {
    const WizardFlow::Decision decision = flow.OnButton(button);
    switch (decision.step) {
    case WizardFlow::Step::StartMainPackage:
        StartMainPackage();
        GoToPage(decision.page);
        break;
    case WizardFlow::Step::GoTo:
        GoToPage(decision.page);
        break;
    case WizardFlow::Step::Finish:
        CleanUpTempFolder();
        ::ShowWindow(hwnd_, SW_HIDE);
        WaitForReports();
        EndDialog(1);
        break;
    case WizardFlow::Step::Close:
        CleanUpTempFolder();
        ::ShowWindow(hwnd_, SW_HIDE);
        WaitForReports();
        EndDialog(1);
        break;
    case WizardFlow::Step::None:
        break;
    }
}

void CTamselDlg::GoToPage(size_t index) {
    const size_t previous = flow.CurrentPage();
    if (!flow.MoveTo(index)) return;
    IPage& page = *pages[index];
    ::ShowWindow(page.GetSafeHwnd(), SW_SHOW);
    ::SetFocus(page.GetSafeHwnd());
    if (previous != index && previous < pages.size()) ::ShowWindow(pages[previous]->GetSafeHwnd(), SW_HIDE);
    page.OnNavigateToPage();
    const std::wstring name = page.GetName();
    if (name == L"DownloadPageDLM" || name == L"DownloadPageISV") AllowClosing(false);
    if (name == L"FinishPageDLM" || name == L"FinishPageISV") AllowClosing(true);
    ::OutputDebugStringW((name + L"\n").c_str());
}

void CTamselDlg::AllowClosing(bool allowed) {
    HMENU systemMenu = ::GetSystemMenu(hwnd_, FALSE);
    if (!systemMenu) return;
    if (allowed) {
        if (::GetMenuState(systemMenu, SC_CLOSE, MF_BYCOMMAND) == static_cast<UINT>(-1))
            ::AppendMenuW(systemMenu, MF_STRING, SC_CLOSE, L"Close");
    } else {
        ::RemoveMenu(systemMenu, SC_CLOSE, MF_BYCOMMAND);
    }
}

void CTamselDlg::ShowErrorPage(const std::wstring& title, const std::wstring& text) {
    if (flow.CurrentPage() < pages.size()) ::ShowWindow(pages[flow.CurrentPage()]->GetSafeHwnd(), SW_HIDE);
    errorPage->SetTexts(title, text);
    ::ShowWindow(errorPage->GetSafeHwnd(), SW_SHOW);
    ::SetFocus(errorPage->GetSafeHwnd());
    errorShown = true;
    AllowClosing(true);
}

void CTamselDlg::OnClose() {
    if (!errorShown && flow.CloseNeedsConfirmation(errorShown)) {
        const std::wstring question = languageManager->Translate(installing ? "PROGRESS_QUIT" : "MSG_EXIT");
        if (::MessageBoxW(hwnd_, question.c_str(), L"", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
    }
    instanceMutex.Reset();
    ::ShowWindow(hwnd_, SW_HIDE);
    config->userQuit = true;
    GetDownloadManager()->cancelled = true;
    for (const auto& page : pages) page->StopWork();
    const std::vector<std::shared_ptr<Package>> shown = config->shownOffers;
    for (const auto& offer : shown) {
        offer->SendEvent(5);
        offer->WaitForEvents();
    }
    if (config->mainPackage) {
        config->mainPackage->SendEvent(5);
        config->mainPackage->WaitForEvents();
    }
    CleanUpTempFolder();
    WaitForReports();
    EndDialog(IDCANCEL);
}

void CTamselDlg::CleanUpTempFolder() {
    if (!config->tempFolder.empty()) RemoveFolderTree(config->tempFolder);
}

void CTamselDlg::WaitForReports() {
    RevokeWorkers();
    for (const auto& offer : offers) offer->WaitForEvents();
    if (config->mainPackage) config->mainPackage->WaitForEvents();
}

void CTamselDlg::RevokeWorkers() {
    if (loadingPage) loadingPage->Revoke();
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
    case WM_LOAD_COMPLETE:
        OnLoadCompleteMessage();
        result = 0;
        handled = true;
        break;
    case WM_CLOSE:
        OnClose();
        result = 0;
        handled = true;
        break;
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
