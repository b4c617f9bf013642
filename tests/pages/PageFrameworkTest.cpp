#include <gtest/gtest.h>

#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "pages/LanguagePage.h"
#include "resources/resource.h"

namespace {

std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return text;
}

// A host window for pages, and a language manager over the program's locale
// documents with a configuration of its own.
struct Wizard {
    std::shared_ptr<ConfigurationManager> config = std::make_shared<ConfigurationManager>("none", nullptr);
    std::vector<std::wstring> messages;
    std::shared_ptr<LanguageManager> manager;
    HWND host = nullptr;

    explicit Wizard(bool btFlow = false) {
        config->wizardType = 1;
        config->btFlow = btFlow;
        manager = std::make_shared<LanguageManager>(config,
                                                    [this](const std::wstring& t) { messages.push_back(t); });
        host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 600, 500, nullptr, nullptr,
                                 nullptr, nullptr);
    }
    ~Wizard() { ::DestroyWindow(host); }

    template <typename Page>
    std::unique_ptr<Page> Create() {
        auto page = std::make_unique<Page>(manager, host);
        EXPECT_TRUE(page->Create(host));
        return page;
    }
};

void Select(HWND page, const std::wstring& name) {
    HWND combo = ::GetDlgItem(page, IDC_LANGUAGE_COMBO);
    const LRESULT index = ::SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(name.c_str()));
    ASSERT_NE(index, CB_ERR);
    ::SendMessageW(combo, CB_SETCURSEL, index, 0);
    // What the combo box tells its page when the user picks an entry.
    ::SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_COMBO, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

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
