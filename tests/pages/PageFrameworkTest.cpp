#include <gtest/gtest.h>

#include "PageTestHost.h"
#include "api/Package.h"
#include "common/RecordingEnvironment.h"
#include "pages/ErrorPage.h"
#include "pages/LanguagePage.h"
#include "pages/LicensePageIsv.h"
#include "pages/Links.h"
#include "pages/ProductPage.h"
#include "pages/WelcomePageIsv.h"
#include "util/WindowMessages.h"

namespace {

// A page with a binding to a control its template lacks and one to a key no
// document has.
class ProbePage : public LanguagePage {
public:
    using LanguagePage::LanguagePage;
    std::wstring GetName() const override { return L"ProbePage"; }

protected:
    BOOL OnInitDialog() override {
        RegisterText(4242, "BUTTON_NEXT");
        RegisterText(IDC_SPLASH_TEXT, "NO_SUCH_KEY");
        RegisterText(IDC_NEXT, "BUTTON_NEXT");
        ApplyTexts();
        return TRUE;
    }
};

}  // namespace

TEST(LanguagePage, PreselectsAndTranslatesItself) {
    Wizard w;
    auto page = w.Create<LanguagePage>();
    HWND hwnd = page->GetSafeHwnd();
    EXPECT_EQ(page->GetName(), L"LanguagePage");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_NEXT)), L"Next");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_SPLASH_TEXT)),
              L"To continue, please select your preferred language, and click \"Next\".");
    EXPECT_EQ(w.config->languageCode, L"en_US");
    EXPECT_EQ(LOWORD(::SendMessageW(hwnd, DM_GETDEFID, 0, 0)), IDC_NEXT);
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(hwnd, IDC_LANGUAGE_COMBO)) ||
                !::IsWindowVisible(hwnd));  // hidden only with its page
    EXPECT_TRUE(w.messages.empty());
}

TEST(LanguagePage, SelectionReTranslatesEveryPageAtOnce) {
    Wizard w;
    auto first = w.Create<LanguagePage>();
    auto second = w.Create<LanguagePage>();
    ::ShowWindow(first->GetSafeHwnd(), SW_SHOW);  // the second stays hidden
    Select(first->GetSafeHwnd(), L"Deutsch");
    EXPECT_EQ(w.config->languageCode, L"de");
    for (HWND page : {first->GetSafeHwnd(), second->GetSafeHwnd()}) {
        EXPECT_EQ(Text(::GetDlgItem(page, IDC_NEXT)), L"Weiter");
        EXPECT_NE(Text(::GetDlgItem(page, IDC_SPLASH_TEXT)).find(L"Weiter"), std::wstring::npos);
    }
    Select(second->GetSafeHwnd(), LanguageManager::GetNativeLanguageName(L"fr"));
    EXPECT_EQ(Text(::GetDlgItem(first->GetSafeHwnd(), IDC_NEXT)), L"Suivant");
}

TEST(IPage, BindingsWithoutWindowOrTextAreLeftAlone) {
    Wizard w;
    auto language = w.Create<LanguagePage>();  // fills the list and loads English
    auto probe = w.Create<ProbePage>();
    HWND hwnd = probe->GetSafeHwnd();
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_SPLASH_TEXT)), L"Splash text placeholder");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_NEXT)), L"Next");
    Select(language->GetSafeHwnd(), L"Deutsch");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_SPLASH_TEXT)), L"Splash text placeholder");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_NEXT)), L"Weiter");
}

TEST(IPage, DestroyedPagesAreNoLongerTranslated) {
    Wizard w;
    auto language = w.Create<LanguagePage>();
    {
        auto gone = w.Create<LanguagePage>();
        EXPECT_EQ(w.manager->RegisteredPages().size(), 2u);
    }
    ASSERT_EQ(w.manager->RegisteredPages().size(), 1u);
    Select(language->GetSafeHwnd(), L"Deutsch");  // would reach freed memory if still listed
    EXPECT_EQ(Text(::GetDlgItem(language->GetSafeHwnd(), IDC_NEXT)), L"Weiter");
}

TEST(IPage, ButtonsReachTheCallbackOnlyWhenSet) {
    Wizard w;
    auto page = w.Create<LanguagePage>();
    HWND next = ::GetDlgItem(page->GetSafeHwnd(), IDC_NEXT);
    ::SendMessageW(next, BM_CLICK, 0, 0);  // no callback yet: nothing happens

    std::vector<ButtonType> pressed;
    page->SetButtonCallback([&](ButtonType b) { pressed.push_back(b); });
    ::SendMessageW(next, BM_CLICK, 0, 0);
    EXPECT_EQ(pressed, std::vector<ButtonType>{ButtonType::Next});
}

TEST(IPage, BottomBarIsAccentColouredAndBeneathTheButtons) {
    Wizard w;
    auto page = w.Create<LanguagePage>();
    page->SetBackgroundColor(w.config->backgroundColor);
    HWND bar = ::GetDlgItem(page->GetSafeHwnd(), IDC_BOTTOM_BAR);
    HDC dc = ::GetDC(bar);
    const auto barBrush = reinterpret_cast<HBRUSH>(
        ::SendMessageW(page->GetSafeHwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(bar)));
    const auto textBrush = reinterpret_cast<HBRUSH>(::SendMessageW(
        page->GetSafeHwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
        reinterpret_cast<LPARAM>(::GetDlgItem(page->GetSafeHwnd(), IDC_SPLASH_TEXT))));
    ::ReleaseDC(bar, dc);
    LOGBRUSH bar_{}, text_{};
    ASSERT_TRUE(::GetObjectW(barBrush, sizeof bar_, &bar_));
    ASSERT_TRUE(::GetObjectW(textBrush, sizeof text_, &text_));
    EXPECT_EQ(bar_.lbColor, w.config->accentColor);
    EXPECT_EQ(text_.lbColor, w.config->backgroundColor);

    // The bar lies beneath the button: after a full repaint the button's face
    // shows, not the bar's colour.
    ::SetWindowPos(page->GetSafeHwnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    ::RedrawWindow(page->GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HWND next = ::GetDlgItem(page->GetSafeHwnd(), IDC_NEXT);
    RECT face;
    ::GetClientRect(next, &face);
    HDC buttonDc = ::GetDC(next);
    const COLORREF centre = ::GetPixel(buttonDc, face.right / 2, face.bottom / 4);
    ::ReleaseDC(next, buttonDc);
    EXPECT_NE(centre, w.config->accentColor);
}

TEST(LanguagePageBT, ListIsHiddenButFilledAndApplied) {
    Wizard w(true);
    auto page = w.Create<LanguagePageBT>();
    HWND hwnd = page->GetSafeHwnd();
    EXPECT_EQ(page->GetName(), L"LanguagePageBT");
    HWND combo = ::GetDlgItem(hwnd, IDC_LANGUAGE_COMBO);
    EXPECT_FALSE(::GetWindowLongW(combo, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(::SendMessageW(combo, CB_GETCOUNT, 0, 0), 14);
    EXPECT_EQ(w.config->languageCode, L"en_US");
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_SPLASH_TITLE_BT)), w.manager->Translate("SPLASH_TITLE_BT"));
    EXPECT_NE(Text(::GetDlgItem(hwnd, IDC_SPLASH_TEXT_BT)), L"Text placeholder");
    EXPECT_TRUE(w.messages.empty());
}

namespace {

struct DefaultButton {
    WORD id;
    bool has;
};

DefaultButton GetDefaultButton(HWND dialog) {
    const LRESULT answer = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
    return {LOWORD(answer), HIWORD(answer) == DC_HASDEFID};
}

// What a download worker sends a page: progress per cent and an unknown size.
void PostDownloadReports(HWND page, WPARAM percent) {
    ::PostMessageW(page, WM_DOWNLOAD_PROGRESS, percent, 0);
    ::PostMessageW(page, WM_DOWNLOAD_SIZE_UNKNOWN, 0, 0);
    PumpMessages();
    ::SendMessageW(page, WM_DOWNLOAD_PROGRESS, percent, 0);
    ::SendMessageW(page, WM_DOWNLOAD_SIZE_UNKNOWN, 0, 0);
}

std::shared_ptr<Package> QuietOffer() {
    SignedRequest request;
    request.body = nlohmann::json::object();
    return Package::CreateOffer(request,
                                nlohmann::json{{"ad", {{"o", "o"}, {"f", "f"}}}, {"ps", {{"i", "x.png"}, {"dn", "N"}, {"u", "https://example.test/n.exe"}}}},
                                "", 0, RecordingEnvironment(nullptr));
}

}  // namespace

TEST(IPage, DownloadReportsNeverMoveTheDefaultButton) {
    // The hazard itself: a dialog outside the page layer takes 0x401 as
    // DM_SETDEFID.
    {
        Wizard w;
        ui::Dialog plain(IDD_LANGUAGE_PAGE, w.host);
        ASSERT_TRUE(plain.Create(w.host));
        ASSERT_EQ(GetDefaultButton(plain.GetSafeHwnd()).id, IDC_NEXT);
        ::SendMessageW(plain.GetSafeHwnd(), WM_DOWNLOAD_PROGRESS, 37, 0);
        EXPECT_EQ(GetDefaultButton(plain.GetSafeHwnd()).id, 37);
    }

    Wizard w(true);
    w.config->productPrivacyUrl = L"https://example.test/privacy";
    std::vector<std::unique_ptr<IPage>> pages;
    pages.push_back(w.Create<LanguagePage>());
    pages.push_back(w.Create<LanguagePageBT>());
    pages.push_back(w.Create<WelcomePageIsv>(w.config));
    pages.push_back(w.Create<LicensePageIsv>(w.config));
    pages.push_back(w.Create<ProductPage>(w.config, QuietOffer()));
    pages.push_back(w.Create<ErrorPage>(w.config));
    for (const auto& page : pages) {
        HWND hwnd = page->GetSafeHwnd();
        ASSERT_TRUE(hwnd);
        ::SetWindowPos(hwnd, nullptr, 7, 9, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
        const DefaultButton before = GetDefaultButton(hwnd);
        RECT placedBefore;
        ::GetWindowRect(hwnd, &placedBefore);
        for (WPARAM percent : {WPARAM{0}, WPARAM{37}, WPARAM{100}, WPARAM{IDC_DECLINE}, WPARAM{IDC_BACK}}) {
            PostDownloadReports(hwnd, percent);
            const DefaultButton after = GetDefaultButton(hwnd);
            EXPECT_EQ(after.id, before.id) << std::string(page->GetName().begin(), page->GetName().end()) << " "
                                           << percent;
            EXPECT_EQ(after.has, before.has);
        }
        RECT placedAfter;
        ::GetWindowRect(hwnd, &placedAfter);
        EXPECT_TRUE(::EqualRect(&placedBefore, &placedAfter));
    }
    // The language page still chose its own default button.
    EXPECT_EQ(GetDefaultButton(pages[0]->GetSafeHwnd()).id, IDC_NEXT);
}

TEST(Links, OnlyPlainWebAddressesAreOpened) {
    const struct {
        const wchar_t* url;
        bool openable;
    } cases[] = {
        {L"https://example.test/privacy", true},
        {L"http://example.test/terms?a=1&b=2#x", true},
        {L"HTTPS://EXAMPLE.TEST/", true},
        {L"https://", false},
        {L"http://", false},
        {L"", false},
        {L"example.test/privacy", false},
        {L"file:///C:/Windows/win.ini", false},
        {L"C:\\Windows\\system32\\calc.exe", false},
        {L"\\\\server\\share\\setup.exe", false},
        {L"javascript:alert(1)", false},
        {L"mailto:someone@example.test", false},
        {L" https://example.test/", false},
        {L"https://example.test/ --new-window", false},
        {L"https://example.test/\" -argument", false},
        {L"https://example.test/\ttab", false},
        {L"https://example.test/\r\nline", false},
        {L"httpx://example.test/", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsOpenableLink(c.url), c.openable) << std::wstring(c.url).size();
}

TEST(Links, PlaceholdersAreReplacedInTheTextAsGiven) {
    const std::vector<std::pair<std::wstring, std::wstring>> values{{L"[A]", L"[B]"}, {L"[B]", L"b"}, {L"", L"never"}};
    const struct {
        std::wstring text, expected;
    } cases[] = {
        {L"[A]", L"[B]"},
        {L"[B]", L"b"},
        {L"[A][B][A]", L"[B]b[B]"},
        {L"[[A]]", L"[[B]]"},
        {L"[A", L"[A"},
        {L"", L""},
        {L"no placeholder", L"no placeholder"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplacePlaceholders(c.text, values), c.expected);
}
