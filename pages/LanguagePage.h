#pragma once
#include "IPage.h"

// The first page: the language list. Choosing a language re-translates every
// page at once.
class LanguagePage : public IPage {
public:
    LanguagePage(std::shared_ptr<LanguageManager> languageManager, HWND parent);
    std::wstring GetName() const override { return L"LanguagePage"; }
    // Loads the selected language, if any.
    void ApplySelection();

protected:
    LanguagePage(std::shared_ptr<LanguageManager> languageManager, UINT templateId, HWND parent);
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;
    virtual void RegisterTexts();

    HWND languageCombo = nullptr;
};

// The BT classic flow's first page: a title and a text; the list is hidden
// but still filled and applied.
class LanguagePageBT : public LanguagePage {
public:
    LanguagePageBT(std::shared_ptr<LanguageManager> languageManager, HWND parent);
    std::wstring GetName() const override { return L"LanguagePageBT"; }

protected:
    void RegisterTexts() override;
};
