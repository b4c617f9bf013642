#include "WarningPageBTClassic.h"

#include "Links.h"
#include "config/ConfigurationManager.h"
#include "resources/resource.h"

WarningPageBTClassic::WarningPageBTClassic(std::shared_ptr<LanguageManager> manager,
                                           std::shared_ptr<ConfigurationManager> configuration, HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_WARNING_PAGE_BT, parent) {
    EnsureLinkClass();
}

BOOL WarningPageBTClassic::OnInitDialog() {
    warningTitle = GetItem(IDC_WARNING_TITLE);
    warningText = GetItem(IDC_WARNING_TEXT);
    backgroundBrush.Reset(::CreateSolidBrush(config->backgroundColor));
    RegisterText(IDC_PRODUCT_TITLE, "PRODUCT_TITLE");  // not on this template: no effect
    RegisterText(IDC_WARNING_TITLE, "WARNING_TITLE");
    RegisterText(IDC_WARNING_SUBTITLE, "WARNING_SUBTITLE");
    RegisterText(IDC_WARNING_TEXT, "WARNING_TEXT");
    RegisterText(IDC_NEXT, "BUTTON_NEXT");
    RegisterText(IDC_BACK, "BUTTON_BACK");
    ApplyTexts();
    MakeTitleBold(warningTitle, titleFont);
    return TRUE;
}

void WarningPageBTClassic::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_NEXT) return SendButton(ButtonType::Next);
    if (code == BN_CLICKED && id == IDC_BACK) return SendButton(ButtonType::Back);
    IPage::OnCommand(id, code, control);
}

HBRUSH WarningPageBTClassic::OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (control && control == warningText) {
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(backgroundBrush.Get());
    }
    return IPage::OnCtlColor(dc, control, kind);
}
