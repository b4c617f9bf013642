#include "LanguagePage.h"

#include "locale/LanguageManager.h"
#include "resources/resource.h"

LanguagePage::LanguagePage(std::shared_ptr<LanguageManager> manager, HWND parent)
    : LanguagePage(std::move(manager), IDD_LANGUAGE_PAGE, parent) {}

LanguagePage::LanguagePage(std::shared_ptr<LanguageManager> manager, UINT templateId, HWND parent)
    : IPage(std::move(manager), templateId, parent) {}

void LanguagePage::RegisterTexts() {
    RegisterText(IDC_NEXT, "BUTTON_NEXT");
    RegisterText(IDC_SPLASH_TEXT, "SPLASH_TEXT");
}

BOOL LanguagePage::OnInitDialog() {
    languageCombo = GetItem(IDC_LANGUAGE_COMBO);
    RegisterTexts();
    languageManager->FillLanguageList(languageCombo);
    // Loading the language re-translates every registered page, this one too.
    ApplySelection();
    SetDefaultButton(IDC_NEXT);
    return TRUE;
}

void LanguagePage::ApplySelection() {
    const LRESULT index = ::SendMessageW(languageCombo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return;
    const LRESULT length = ::SendMessageW(languageCombo, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return;
    std::wstring name(static_cast<size_t>(length) + 1, L'\0');
    ::SendMessageW(languageCombo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(name.data()));
    name.resize(static_cast<size_t>(length));
    languageManager->SetLanguage(name);
}

void LanguagePage::OnCommand(WORD id, WORD code, HWND) {
    if (id == IDC_LANGUAGE_COMBO && code == CBN_SELCHANGE) ApplySelection();
    if (id == IDC_NEXT && code == BN_CLICKED) SendButton(ButtonType::Next);
}

LanguagePageBT::LanguagePageBT(std::shared_ptr<LanguageManager> manager, HWND parent)
    : LanguagePage(std::move(manager), IDD_LANGUAGE_PAGE_BT, parent) {}

void LanguagePageBT::RegisterTexts() {
    RegisterText(IDC_NEXT, "BUTTON_NEXT");
    RegisterText(IDC_SPLASH_TITLE_BT, "SPLASH_TITLE_BT");
    RegisterText(IDC_SPLASH_TEXT_BT, "SPLASH_TEXT_BT");
}
