#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include "PageTestHost.h"
#include "util/Images.h"
#include "pages/ErrorPage.h"
#include "pages/LanguagePage.h"
#include "pages/LicensePageIsv.h"
#include "pages/LinkButton.h"
#include "pages/WelcomePageIsv.h"

namespace {

constexpr int kDlm = 1;
constexpr int kIsv = 2;
const int kLinks[] = {IDC_PRIVACY_LINK, IDC_TERMS_LINK, IDC_SDK_LINK};

// A 4 x 4 red PNG.
const unsigned char kRedPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00,
    0x04, 0x00, 0x00, 0x00, 0x04, 0x08, 0x02, 0x00, 0x00, 0x00, 0x26, 0x93, 0x09, 0x29, 0x00, 0x00, 0x00, 0x10, 0x49,
    0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0x00, 0x47, 0x0c, 0xc4, 0x71, 0x00, 0xae, 0x93, 0x0f, 0xf1,
    0xd0, 0x5f, 0x23, 0x9e, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

// The program's welcome artwork is blue at its left edge, the error artwork red.
bool Bluish(COLORREF c) { return GetBValue(c) > GetRValue(c) + 60; }
bool Reddish(COLORREF c) { return GetRValue(c) > GetGValue(c) + 60 && GetRValue(c) > GetBValue(c) + 60; }

struct Caption {
    SIZE extent{0, 0};
    int width = 0;
};

// The link's caption measured in its font, beside the link's width.
Caption Measure(HWND link) {
    Caption c;
    const std::wstring text = Text(link);
    HDC dc = ::GetDC(link);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(link, WM_GETFONT, 0, 0)));
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &c.extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(link, dc);
    RECT rect;
    ::GetWindowRect(link, &rect);
    c.width = rect.right - rect.left;
    return c;
}

}  // namespace

TEST(WelcomePage, LinksAreShownForTheAddressesThereAre) {
    const struct {
        const char* what;
        std::wstring privacy, terms;
        bool privacyShown, termsShown;
    } cases[] = {
        {"cp and ctu", L"https://example.test/privacy", L"https://example.test/terms", true, true},
        {"cp without ctu", L"https://example.test/privacy", L"", true, false},
        {"ctu without cp", L"", L"https://example.test/terms", false, true},
        {"neither (ISV set-up)", L"", L"", false, false},
    };
    for (const auto& c : cases) {
        Wizard w;
        w.config->productPrivacyUrl = c.privacy;
        w.config->productTermsUrl = c.terms;
        w.config->sdkPrivacyUrl = L"https://localhost/privacy/";
        auto language = w.Create<LanguagePage>();
        auto page = w.Create<WelcomePageIsv>(w.config);
        HWND hwnd = page->GetSafeHwnd();
        EXPECT_EQ(Shown(::GetDlgItem(hwnd, IDC_PRIVACY_LINK)), c.privacyShown) << c.what;
        EXPECT_EQ(Shown(::GetDlgItem(hwnd, IDC_TERMS_LINK)), c.termsShown) << c.what;
        EXPECT_TRUE(Shown(::GetDlgItem(hwnd, IDC_SDK_LINK))) << c.what;
    }
    Wizard w;
    w.config->sdkPrivacyUrl.clear();
    auto page = w.Create<WelcomePageIsv>(w.config);
    EXPECT_FALSE(Shown(::GetDlgItem(page->GetSafeHwnd(), IDC_SDK_LINK)));
}

TEST(WelcomePage, TextsAndTheSecondLinkCaptionFollowTheWizardType) {
    const struct {
        int wizardType;
        const char* termsKey;
        const char* otherKey;
        const wchar_t* welcome;
    } cases[] = {
        {kDlm, "TOS_LINK", "EULA_LINK", L"This will download  on your computer. Click \"Next\" to continue."},
        {kIsv, "EULA_LINK", "TOS_LINK", L"This will install  on your computer. Click \"Next\" to continue."},
    };
    for (const auto& c : cases) {
        Wizard w(false, c.wizardType);
        auto language = w.Create<LanguagePage>();
        auto page = w.Create<WelcomePageIsv>(w.config);
        HWND hwnd = page->GetSafeHwnd();
        // The other key is missing from this type's documents: a page that
        // used it would keep its template caption.
        ASSERT_TRUE(w.manager->Translate(c.otherKey).empty()) << c.termsKey;
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_TERMS_LINK)), w.manager->Translate(c.termsKey));
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_PRIVACY_LINK)), L"Privacy Policy");
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_SDK_LINK)), L"License");
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_WELCOME_TITLE)), L"Welcome to");
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_WELCOME_TEXT)), c.welcome);
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_NEXT)), L"Next");
        EXPECT_EQ(page->GetName(), L"WelcomePage");
    }
}

TEST(WelcomePage, ImageIsTheProductLogoForDlmAndTheArtworkOtherwise) {
    {
        Wizard w;  // DLM with a downloaded logo
        w.config->productImage = DecodeImage(kRedPng, sizeof kRedPng);
        ASSERT_TRUE(w.config->productImage);
        auto page = w.Create<WelcomePageIsv>(w.config);
        EXPECT_EQ(PaintedPixel(*page, IDC_PAGE_IMAGE, 0.5, 0.5), RGB(255, 0, 0));
    }
    {
        Wizard w;  // DLM without a logo: the area stays empty
        auto page = w.Create<WelcomePageIsv>(w.config);
        EXPECT_EQ(PaintedPixel(*page, IDC_PAGE_IMAGE, 0.5, 0.5), w.config->backgroundColor);
    }
    {
        Wizard w(false, kIsv);  // the installer shows its own artwork, not the logo
        w.config->productImage = DecodeImage(kRedPng, sizeof kRedPng);
        auto page = w.Create<WelcomePageIsv>(w.config);
        const COLORREF edge = PaintedPixel(*page, IDC_PAGE_IMAGE, 0.15, 0.5);
        EXPECT_TRUE(Bluish(edge)) << std::hex << edge;
    }
}

TEST(WelcomePage, ProductTitleFollowsTheLanguageReload) {
    Wizard w;
    auto language = w.Create<LanguagePage>();
    auto page = w.Create<WelcomePageIsv>(w.config);
    w.config->productTitle = L"Harlix Notes";
    language->ApplySelection();  // what the wizard does once the configuration has arrived
    EXPECT_EQ(Text(::GetDlgItem(page->GetSafeHwnd(), IDC_PRODUCT_TITLE)), L"Harlix Notes");
    EXPECT_EQ(Text(::GetDlgItem(page->GetSafeHwnd(), IDC_WELCOME_TEXT)),
              L"This will download Harlix Notes on your computer. Click \"Next\" to continue.");
}

TEST(WelcomePage, LinksFitTheirCaptionsInEveryLanguage) {
    Wizard w;
    w.config->productPrivacyUrl = L"https://example.test/privacy";
    w.config->productTermsUrl = L"https://example.test/terms";
    auto language = w.Create<LanguagePage>();
    auto page = w.Create<WelcomePageIsv>(w.config);
    std::vector<int> englishWidths;
    for (const wchar_t* name : {L"English", L"Deutsch"}) {
        if (std::wstring(name) != L"English") Select(language->GetSafeHwnd(), name);
        for (int id : kLinks) {
            HWND link = ::GetDlgItem(page->GetSafeHwnd(), id);
            const Caption c = Measure(link);
            EXPECT_GT(c.extent.cx, 0) << id;
            EXPECT_GE(c.width, c.extent.cx) << id << ": the caption must fit";
            EXPECT_LE(c.width, c.extent.cx + 8) << id << ": the link is sized to its caption";
        }
    }
    // "License" and "End User License Agreement": one template width would not fit both.
    EXPECT_LT(Measure(::GetDlgItem(page->GetSafeHwnd(), IDC_SDK_LINK)).width,
              Measure(::GetDlgItem(page->GetSafeHwnd(), IDC_TERMS_LINK)).width);
}

TEST(WelcomePage, NextAndLinkClicks) {
    Wizard w;
    w.config->productPrivacyUrl = L"https://example.test/privacy";
    w.config->productTermsUrl = L"file:///C:/Windows/win.ini";  // shown, but never handed to the shell
    w.config->sdkPrivacyUrl = L"https://localhost/privacy/";
    auto page = w.Create<WelcomePageIsv>(w.config);
    OpenedLinks opened;
    page->SetLinkOpener(opened.Opener());
    std::vector<ButtonType> pressed;
    page->SetButtonCallback([&](ButtonType b) { pressed.push_back(b); });
    for (int id : kLinks) Click(page->GetSafeHwnd(), id);
    EXPECT_EQ(opened.urls, (std::vector<std::wstring>{L"https://example.test/privacy", L"https://localhost/privacy/"}));
    EXPECT_TRUE(pressed.empty());
    Click(page->GetSafeHwnd(), IDC_NEXT);
    EXPECT_EQ(pressed, std::vector<ButtonType>{ButtonType::Next});
    EXPECT_EQ(LOWORD(::SendMessageW(page->GetSafeHwnd(), DM_GETDEFID, 0, 0)), IDC_NEXT);
}

TEST(LinkButton, HidesWithoutAddressOpensItsOwnAndStaysOnThePage) {
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 100, nullptr, nullptr,
                                    nullptr, nullptr);
    HWND button = ::CreateWindowExW(0, L"BUTTON", L"Link", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 40, 10, 100, 16,
                                    parent, reinterpret_cast<HMENU>(7), nullptr, nullptr);
    std::vector<std::wstring> opened;
    {
        LinkButton link;
        link.Attach(button, [&](const std::wstring& url) { opened.push_back(url); });
        EXPECT_EQ(link.Id(), 7);
        link.SetUrl(L"");
        EXPECT_FALSE(Shown(button));
        link.Open();
        EXPECT_TRUE(opened.empty());
        link.SetUrl(L"https://example.test/");
        EXPECT_TRUE(Shown(button));
        link.Open();
        EXPECT_EQ(opened, std::vector<std::wstring>{L"https://example.test/"});

        // A caption far wider than the page stops at the page's edge.
        ::SetWindowTextW(button, std::wstring(5000, L'W').c_str());
        link.SizeToContent();
        RECT rect;
        ::GetWindowRect(button, &rect);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, 40);
        EXPECT_EQ(rect.right, 300);
        ::SetWindowTextW(button, L"");
        link.SizeToContent();
        ::GetWindowRect(button, &rect);
        EXPECT_GT(rect.right - rect.left, 0);
        EXPECT_LT(rect.right - rect.left, 10);
        // It paints with its own colours, whatever the parent answers.
        ::RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    // Detached with its owner gone: the window outlives it without calling back.
    ::SendMessageW(button, WM_PAINT, 0, 0);
    ::DestroyWindow(parent);
}

TEST(LicensePage, TextsLinksAndTitleFont) {
    Wizard w(true);
    w.config->productTermsUrl = L"https://example.test/terms";
    w.config->productPrivacyUrl = L"https://example.test/privacy";
    auto language = w.Create<LanguagePageBT>();
    auto page = w.Create<LicensePageIsv>(w.config);
    ASSERT_TRUE(page->GetSafeHwnd());
    HWND hwnd = page->GetSafeHwnd();
    EXPECT_EQ(page->GetName(), L"LicensePage");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_LICENSE_TITLE)), w.manager->Translate("LICENSE_TITLE"));
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_LICENSE_TEXT)), w.manager->Translate("LICENSE_TEXT"));
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_EULA_TEXT)), w.manager->Translate("LICENSE_EULA"));
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_AGREE)), L"Agree");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_BACK)), L"Back");
    HWND links = ::GetDlgItem(hwnd, IDC_LICENSE_LINKS);
    const std::vector<std::wstring> urls{L"https://example.test/terms", L"https://example.test/privacy"};
    EXPECT_EQ(LinkUrls(links), urls);
    EXPECT_EQ(Text(links).find(L"[LICENSE_"), std::wstring::npos) << Text(links);

    // The licence box is read-only and recognises addresses.
    HWND eula = ::GetDlgItem(hwnd, IDC_EULA_TEXT);
    EXPECT_TRUE(::GetWindowLongW(eula, GWL_STYLE) & ES_READONLY);
    EXPECT_TRUE(::SendMessageW(eula, EM_GETAUTOURLDETECT, 0, 0));

    LOGFONTW title{};
    ASSERT_TRUE(::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(::GetDlgItem(hwnd, IDC_LICENSE_TITLE), WM_GETFONT,
                                                                     0, 0)),
                             sizeof title, &title));
    EXPECT_EQ(title.lfHeight, 12);
    EXPECT_EQ(title.lfWeight, 1000);
    LOGFONTW text{};
    ASSERT_TRUE(::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(::GetDlgItem(hwnd, IDC_LICENSE_TEXT), WM_GETFONT,
                                                                    0, 0)),
                             sizeof text, &text));
    EXPECT_EQ(std::wstring(title.lfFaceName), std::wstring(text.lfFaceName));

    // A language chosen later keeps the links' addresses.
    Select(language->GetSafeHwnd(), L"Deutsch");
    EXPECT_EQ(LinkUrls(links), urls);
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_LICENSE_TITLE)), w.manager->Translate("LICENSE_TITLE"));
}

TEST(LicensePage, ButtonsAndLinkClicks) {
    const struct {
        const char* what;
        std::wstring terms, privacy;
        std::vector<std::wstring> opened;
    } cases[] = {
        {"web addresses", L"https://example.test/terms", L"https://example.test/privacy",
         {L"https://example.test/terms", L"https://example.test/privacy"}},
        {"empty addresses open nothing", L"", L"", {}},
        {"a program is not started", L"C:\\Windows\\notepad.exe", L"https://example.test/privacy",
         {L"https://example.test/privacy"}},
    };
    for (const auto& c : cases) {
        Wizard w(true);
        w.config->productTermsUrl = c.terms;
        w.config->productPrivacyUrl = c.privacy;
        auto language = w.Create<LanguagePageBT>();
        auto page = w.Create<LicensePageIsv>(w.config);
        OpenedLinks opened;
        page->SetLinkOpener(opened.Opener());
        std::vector<ButtonType> pressed;
        page->SetButtonCallback([&](ButtonType b) { pressed.push_back(b); });
        ::SetWindowPos(page->GetSafeHwnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
        HWND links = ::GetDlgItem(page->GetSafeHwnd(), IDC_LICENSE_LINKS);
        EXPECT_TRUE(ClickLink(links, 0)) << c.what;
        EXPECT_TRUE(ClickLink(links, 1)) << c.what;
        EXPECT_EQ(opened.urls, c.opened) << c.what;
        Click(page->GetSafeHwnd(), IDC_AGREE);
        Click(page->GetSafeHwnd(), IDC_BACK);
        EXPECT_EQ(pressed, (std::vector<ButtonType>{ButtonType::Next, ButtonType::Back})) << c.what;
    }
}

TEST(LicensePage, WithoutLicenceTextsTheTemplateStays) {
    Wizard w;  // not the BT flow: the licence texts are not loaded
    auto language = w.Create<LanguagePage>();
    auto page = w.Create<LicensePageIsv>(w.config);
    HWND hwnd = page->GetSafeHwnd();
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_LICENSE_TITLE)), L"Licence title placeholder");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_LICENSE_LINKS)), L"Licence links placeholder");
    EXPECT_TRUE(LinkUrls(::GetDlgItem(hwnd, IDC_LICENSE_LINKS)).empty());
}

TEST(LicensePage, RichEditComesFromTheSystemFolder) {
    ASSERT_TRUE(EnsureRichEditLoaded());
    HMODULE module = ::GetModuleHandleW(L"riched20.dll");
    ASSERT_TRUE(module);
    wchar_t path[MAX_PATH] = {}, system[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(module, path, MAX_PATH), 0u);
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring expected = std::wstring(system) + L"\\riched20.dll";
    EXPECT_EQ(::CompareStringOrdinal(path, -1, expected.c_str(), -1, TRUE), CSTR_EQUAL) << path;
}

TEST(ErrorPage, ShowsWhatTheWizardPassesAndCloses) {
    Wizard w;
    auto language = w.Create<LanguagePage>();
    auto page = w.Create<ErrorPage>(w.config);
    HWND hwnd = page->GetSafeHwnd();
    EXPECT_EQ(page->GetName(), L"ErrorPage");
    // Before any error: no template text shows through.
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_ERROR_TITLE)), L"");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_ERROR_TEXT)), L"");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_CLOSE)), L"Close");
    EXPECT_EQ(LOWORD(::SendMessageW(hwnd, DM_GETDEFID, 0, 0)), IDC_CLOSE);

    const struct {
        std::wstring title, text;
    } cases[] = {
        {L"Something went wrong", L"Please try to download later"},
        {L"Error in downloading", L""},
        {L"", L""},
        {L"\u00C9chec \u2013 \u4E0B\u8F7D", L"Line one\r\nLine two"},
        {std::wstring(3000, L't'), std::wstring(20000, L'x')},
    };
    for (const auto& c : cases) {
        page->SetTexts(c.title, c.text);
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_ERROR_TITLE)), c.title);
        EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_ERROR_TEXT)), c.text);
    }

    const COLORREF edge = PaintedPixel(*page, IDC_PAGE_IMAGE, 0.15, 0.5);
    EXPECT_TRUE(Reddish(edge)) << std::hex << edge;

    // Texts set before the window exists show once it does.
    auto early = std::make_unique<ErrorPage>(w.manager, w.config, w.host);
    early->SetTexts(L"Title", L"Text");
    ASSERT_TRUE(early->Create(w.host));
    EXPECT_EQ(Text(::GetDlgItem(early->GetSafeHwnd(), IDC_ERROR_TITLE)), L"Title");
    EXPECT_EQ(Text(::GetDlgItem(early->GetSafeHwnd(), IDC_ERROR_TEXT)), L"Text");

    int errors = 0;
    page->SetErrorCallback([&](const std::wstring&, const std::wstring&) { ++errors; });
    std::vector<ButtonType> pressed;
    Click(hwnd, IDC_CLOSE);  // no callback yet: nothing
    page->SetButtonCallback([&](ButtonType b) { pressed.push_back(b); });
    Click(hwnd, IDC_CLOSE);
    EXPECT_EQ(pressed, std::vector<ButtonType>{ButtonType::Close});
    EXPECT_EQ(errors, 0);
}
