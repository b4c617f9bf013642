#include "ConfigurationsPageBTClassic.h"

#include "CheckBoxes.h"
#include "config/ConfigurationManager.h"
#include "resources/resource.h"

ConfigurationsPageBTClassic::ConfigurationsPageBTClassic(std::shared_ptr<LanguageManager> manager,
                                                         std::shared_ptr<ConfigurationManager> configuration,
                                                         HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_CONFIGURATIONS_PAGE_BT, parent) {}

BOOL ConfigurationsPageBTClassic::OnInitDialog() {
    configurationsTitle = GetItem(IDC_CONFIGURATIONS_TITLE);
    for (size_t i = 0; i < configurationChecks.size(); ++i) configurationChecks[i] = GetItem(kConfigurationCheckIds[i]);
    CheckAll(configurationChecks);
    RegisterText(IDC_CONFIGURATIONS_TITLE, "CONFIGURATIONS_TITLE");
    RegisterText(IDC_CONFIGURATIONS_SUBTITLE_1, "CONFIGURATIONS_SUBTITLE_1");
    RegisterText(IDC_CONFIGURATIONS_TEXT_1, "CONFIGURATIONS_TEXT_1");
    RegisterText(IDC_CONFIGURATIONS_LABEL_1, "CONFIGURATIONS_CHECK_1");
    RegisterText(IDC_CONFIGURATIONS_CHECK_2, "CONFIGURATIONS_CHECK_2");
    RegisterText(IDC_CONFIGURATIONS_SUBTITLE_2, "CONFIGURATIONS_SUBTITLE_2");
    RegisterText(IDC_CONFIGURATIONS_TEXT_2, "CONFIGURATIONS_TEXT_2");
    RegisterText(IDC_CONFIGURATIONS_CHECK_3, "CONFIGURATIONS_CHECK_3");
    RegisterText(IDC_CONFIGURATIONS_CHECK_4, "CONFIGURATIONS_CHECK_4");
    RegisterText(IDC_CONFIGURATIONS_CHECK_5, "CONFIGURATIONS_CHECK_5");
    RegisterText(IDC_NEXT, "BUTTON_NEXT");
    RegisterText(IDC_BACK, "BUTTON_BACK");
    ApplyTexts();
    MakeTitleBold(configurationsTitle, titleFont);
    return TRUE;
}

void ConfigurationsPageBTClassic::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_NEXT) {
        ReadChecks(configurationChecks, config->btConfigurations);
        return SendButton(ButtonType::Next);
    }
    if (code == BN_CLICKED && id == IDC_BACK) return SendButton(ButtonType::Back);
    IPage::OnCommand(id, code, control);
}
