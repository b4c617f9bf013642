#include "OptionsPageBTClassic.h"

#include "CheckBoxes.h"
#include "config/ConfigurationManager.h"
#include "resources/resource.h"

OptionsPageBTClassic::OptionsPageBTClassic(std::shared_ptr<LanguageManager> manager,
                                           std::shared_ptr<ConfigurationManager> configuration, HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_OPTIONS_PAGE_BT, parent) {}

BOOL OptionsPageBTClassic::OnInitDialog() {
    optionsTitle = GetItem(IDC_OPTIONS_TITLE);
    for (size_t i = 0; i < optionChecks.size(); ++i) optionChecks[i] = GetItem(kOptionCheckIds[i]);
    CheckAll(optionChecks);
    RegisterText(IDC_OPTIONS_TITLE, "OPTIONS_TITLE");
    RegisterText(IDC_OPTIONS_CHECK_1, "OPTIONS_CHECK_1");
    RegisterText(IDC_OPTIONS_CHECK_2, "OPTIONS_CHECK_2");
    RegisterText(IDC_OPTIONS_CHECK_3, "OPTIONS_CHECK_3");
    RegisterText(IDC_NEXT, "BUTTON_NEXT");
    ApplyTexts();
    MakeTitleBold(optionsTitle, titleFont);
    return TRUE;
}

void OptionsPageBTClassic::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_NEXT) {
        ReadChecks(optionChecks, config->btOptions);
        return SendButton(ButtonType::Next);
    }
    IPage::OnCommand(id, code, control);
}
