// The BT classic flow's warning, options and configurations pages, in the
// wizard's own language documents.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "PageTestHost.h"
#include "pages/ConfigurationsPageBTClassic.h"
#include "pages/LanguagePage.h"
#include "pages/OptionsPageBTClassic.h"
#include "pages/WarningPageBTClassic.h"

namespace {

using Bindings = std::vector<std::pair<int, const char*>>;

LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

bool Checked(HWND page, int id) { return ::IsDlgButtonChecked(page, id) == BST_CHECKED; }

// Shows each keyed control's text in the chosen language, the title in bold,
// and reports its buttons.
void ExpectPage(IPage& page, Wizard& w, HWND languagePage, int titleId, const Bindings& bindings,
                const std::vector<std::pair<int, ButtonType>>& buttons) {
    HWND hwnd = page.GetSafeHwnd();
    ASSERT_TRUE(hwnd);
    for (const std::wstring language : {L"English", L"Deutsch"}) {
        Select(languagePage, language);
        for (const auto& [id, key] : bindings) {
            const std::wstring expected = w.manager->Translate(key);
            EXPECT_FALSE(expected.empty()) << key;
            EXPECT_EQ(Text(::GetDlgItem(hwnd, id)), expected) << key;
        }
    }
    EXPECT_EQ(Text(::GetDlgItem(hwnd, IDC_NEXT)), L"Weiter");
    const LOGFONTW title = FontOf(::GetDlgItem(hwnd, titleId));
    EXPECT_EQ(title.lfHeight, 12);
    EXPECT_EQ(title.lfWeight, 1000);
    EXPECT_LT(FontOf(::GetDlgItem(hwnd, IDC_NEXT)).lfWeight, 1000) << "only the title is bold";

    std::vector<ButtonType> pressed, expected;
    page.SetButtonCallback([&](ButtonType b) { pressed.push_back(b); });
    for (const auto& [id, button] : buttons) {
        Click(hwnd, id);
        expected.push_back(button);
    }
    EXPECT_EQ(pressed, expected);
}

}  // namespace

TEST(BtClassicPages, TextsTitleAndButtons) {
    Wizard w(true);  // the download manager's languages: German among them
    w.config->productTitle = L"Harlix Torrent";
    auto language = w.Create<LanguagePageBT>();
    {
        SCOPED_TRACE("warning");
        auto page = w.Create<WarningPageBTClassic>(w.config);
        EXPECT_EQ(page->GetName(), L"WarningPageBTClassic");
        ExpectPage(*page, w, language->GetSafeHwnd(), IDC_WARNING_TITLE,
                   {{IDC_WARNING_TITLE, "WARNING_TITLE"}, {IDC_WARNING_SUBTITLE, "WARNING_SUBTITLE"},
                    {IDC_WARNING_TEXT, "WARNING_TEXT"}, {IDC_BACK, "BUTTON_BACK"}},
                   {{IDC_NEXT, ButtonType::Next}, {IDC_BACK, ButtonType::Back}});
        // The text's links are shown, never followed.
        OpenedLinks opened;
        page->SetLinkOpener(opened.Opener());
        ::SetWindowPos(page->GetSafeHwnd(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
        HWND text = ::GetDlgItem(page->GetSafeHwnd(), IDC_WARNING_TEXT);
        EXPECT_EQ(LinkUrls(text).size(), 2u);
        EXPECT_TRUE(ClickLink(text, 0));
        EXPECT_TRUE(opened.urls.empty());
        EXPECT_NE(Text(text).find(L"Harlix Torrent"), std::wstring::npos);
    }
    {
        SCOPED_TRACE("options");
        auto page = w.Create<OptionsPageBTClassic>(w.config);
        EXPECT_EQ(page->GetName(), L"OptionsPageBTClassic");
        EXPECT_EQ(::GetDlgItem(page->GetSafeHwnd(), IDC_BACK), nullptr) << "the options page has no Back";
        ExpectPage(*page, w, language->GetSafeHwnd(), IDC_OPTIONS_TITLE,
                   {{IDC_OPTIONS_TITLE, "OPTIONS_TITLE"}, {IDC_OPTIONS_CHECK_1, "OPTIONS_CHECK_1"},
                    {IDC_OPTIONS_CHECK_2, "OPTIONS_CHECK_2"}, {IDC_OPTIONS_CHECK_3, "OPTIONS_CHECK_3"}},
                   {{IDC_NEXT, ButtonType::Next}});
    }
    {
        SCOPED_TRACE("configurations");
        auto page = w.Create<ConfigurationsPageBTClassic>(w.config);
        EXPECT_EQ(page->GetName(), L"ConfigurationsPageBTClassic");
        ExpectPage(*page, w, language->GetSafeHwnd(), IDC_CONFIGURATIONS_TITLE,
                   {{IDC_CONFIGURATIONS_TITLE, "CONFIGURATIONS_TITLE"},
                    {IDC_CONFIGURATIONS_SUBTITLE_1, "CONFIGURATIONS_SUBTITLE_1"},
                    {IDC_CONFIGURATIONS_TEXT_1, "CONFIGURATIONS_TEXT_1"},
                    {IDC_CONFIGURATIONS_LABEL_1, "CONFIGURATIONS_CHECK_1"},
                    {IDC_CONFIGURATIONS_CHECK_2, "CONFIGURATIONS_CHECK_2"},
                    {IDC_CONFIGURATIONS_SUBTITLE_2, "CONFIGURATIONS_SUBTITLE_2"},
                    {IDC_CONFIGURATIONS_TEXT_2, "CONFIGURATIONS_TEXT_2"},
                    {IDC_CONFIGURATIONS_CHECK_3, "CONFIGURATIONS_CHECK_3"},
                    {IDC_CONFIGURATIONS_CHECK_4, "CONFIGURATIONS_CHECK_4"},
                    {IDC_CONFIGURATIONS_CHECK_5, "CONFIGURATIONS_CHECK_5"}, {IDC_BACK, "BUTTON_BACK"}},
                   {{IDC_NEXT, ButtonType::Next}, {IDC_BACK, ButtonType::Back}});
        EXPECT_EQ(Text(::GetDlgItem(page->GetSafeHwnd(), IDC_CONFIGURATIONS_CHECK_1)), L"")
            << "the first box's text is its label";
    }
    EXPECT_TRUE(w.messages.empty());
}

// Boxes start checked; Next stores what they show, in the configuration's
// order, every time; Back stores nothing.
TEST(BtClassicPages, NextStoresTheBoxes) {
    Wizard w(true, 2);
    auto options = w.Create<OptionsPageBTClassic>(w.config);
    auto configurations = w.Create<ConfigurationsPageBTClassic>(w.config);
    HWND o = options->GetSafeHwnd();
    HWND c = configurations->GetSafeHwnd();
    for (int id : OptionsPageBTClassic::kOptionCheckIds) EXPECT_TRUE(Checked(o, id)) << id;
    for (int id : ConfigurationsPageBTClassic::kConfigurationCheckIds) EXPECT_TRUE(Checked(c, id)) << id;

    Click(o, IDC_NEXT);
    Click(c, IDC_NEXT);
    EXPECT_EQ(w.config->btOptions, (std::array<bool, 3>{true, true, true}));
    EXPECT_EQ(w.config->btConfigurations, (std::array<bool, 5>{true, true, true, true, true}));

    // The user clears the middle option and the first and fourth
    // configurations (the first by its box; its label is no button).
    Click(o, IDC_OPTIONS_CHECK_2);
    Click(c, IDC_CONFIGURATIONS_CHECK_1);
    Click(c, IDC_CONFIGURATIONS_CHECK_4);
    Click(c, IDC_BACK);
    EXPECT_EQ(w.config->btConfigurations, (std::array<bool, 5>{true, true, true, true, true})) << "Back stores nothing";
    Click(o, IDC_NEXT);
    Click(c, IDC_NEXT);
    EXPECT_EQ(w.config->btOptions, (std::array<bool, 3>{true, false, true}));
    EXPECT_EQ(w.config->btConfigurations, (std::array<bool, 5>{false, true, true, false, true}));

    // Checked again, stored again.
    Click(c, IDC_CONFIGURATIONS_CHECK_1);
    Click(c, IDC_NEXT);
    EXPECT_TRUE(w.config->btConfigurations[0]);
}
