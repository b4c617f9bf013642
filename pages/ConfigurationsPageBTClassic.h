#pragma once
#include <array>

#include "IPage.h"

// The BT classic flow's configurations after the options: five boxes in two
// groups, checked at first, stored in the configuration at Next.
class ConfigurationsPageBTClassic : public IPage {
public:
    // The boxes in the order of the configuration's btConfigurations; the
    // first has its text in a label of its own.
    static constexpr std::array<int, 5> kConfigurationCheckIds = {1069, 1063, 1066, 1067, 1068};

    ConfigurationsPageBTClassic(std::shared_ptr<LanguageManager> languageManager,
                                std::shared_ptr<ConfigurationManager> config, HWND parent);
    std::wstring GetName() const override { return L"ConfigurationsPageBTClassic"; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    HWND configurationsTitle = nullptr;
    std::array<HWND, 5> configurationChecks{};
    tamsel::GdiObject titleFont;
};
