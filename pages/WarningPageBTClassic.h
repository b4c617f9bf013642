#pragma once
#include "IPage.h"

// First page after loading in the BT classic flow: a bold title, a subtitle
// and a text whose links are shown but not followed. Next and Back.
class WarningPageBTClassic : public IPage {
public:
    WarningPageBTClassic(std::shared_ptr<LanguageManager> languageManager,
                         std::shared_ptr<ConfigurationManager> config, HWND parent);
    std::wstring GetName() const override { return L"WarningPageBTClassic"; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;

private:
    HWND warningTitle = nullptr;
    HWND warningText = nullptr;
    tamsel::GdiObject backgroundBrush;
    tamsel::GdiObject titleFont;
};
