#pragma once
#include <array>

#include "IPage.h"

// The BT classic flow's installation options after the product pages: three
// boxes, checked at first, stored in the configuration at Next.
class OptionsPageBTClassic : public IPage {
public:
    // The boxes in the order of the configuration's btOptions.
    static constexpr std::array<int, 3> kOptionCheckIds = {1056, 1057, 1058};

    OptionsPageBTClassic(std::shared_ptr<LanguageManager> languageManager,
                         std::shared_ptr<ConfigurationManager> config, HWND parent);
    std::wstring GetName() const override { return L"OptionsPageBTClassic"; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    HWND optionsTitle = nullptr;
    std::array<HWND, 3> optionChecks{};
    tamsel::GdiObject titleFont;
};
