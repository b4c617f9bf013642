#pragma once
#include "IPage.h"

// The page after loading in the BT classic flow: a title, a text, the licence
// in a scrolling box and a line of links; Agree and Back.
class LicensePageIsv : public IPage {
public:
    LicensePageIsv(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                   HWND parent);
    // The links' placeholders are filled on every translation, so a language
    // chosen later keeps working links.
    void ApplyTexts() override;
    std::wstring GetName() const override { return L"LicensePage"; }
    // Agree takes the focus: the licence box would otherwise get it with all
    // its text selected.
    void OnNavigateToPage() override;

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    HWND eulaText = nullptr;
    HWND licenseTitle = nullptr;
    HWND licenseLinks = nullptr;
    tamsel::GdiObject backgroundBrush;
    tamsel::GdiObject titleFont;
};

// Loads the rich-edit control's library from the system folder (never from
// the search path: the program starts from a download folder). True when its
// window class is available.
bool EnsureRichEditLoaded();
