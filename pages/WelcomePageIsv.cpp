#include "WelcomePageIsv.h"

#include "config/ConfigurationManager.h"
#include "resources/resource.h"

WelcomePageIsv::WelcomePageIsv(std::shared_ptr<LanguageManager> manager,
                               std::shared_ptr<ConfigurationManager> configuration, HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_WELCOME_PAGE, parent) {}

BOOL WelcomePageIsv::OnInitDialog() {
    image.Attach(GetItem(IDC_PAGE_IMAGE));
    if (config->wizardType == kWizardTypeDlm)
        image.SetImage(config->productImage);  // the downloaded logo; may be none
    else
        image.LoadFromResource(IDR_IMAGE_WELCOME, L"IMAGE_BLOB");

    const auto open = [this](const std::wstring& url) { OpenLink(url); };
    privacyLink.Attach(GetItem(IDC_PRIVACY_LINK), open);
    termsLink.Attach(GetItem(IDC_TERMS_LINK), open);
    sdkLink.Attach(GetItem(IDC_SDK_LINK), open);

    RegisterText(IDC_PRODUCT_TITLE, "PRODUCT_TITLE");
    RegisterText(IDC_WELCOME_TITLE, "WELCOME_TITLE");
    RegisterText(IDC_WELCOME_TEXT, "WELCOME_TEXT");
    RegisterText(IDC_NEXT, "BUTTON_NEXT");
    RegisterText(IDC_PRIVACY_LINK, "PRIVACY_LINK");
    RegisterText(IDC_TERMS_LINK, config->wizardType == kWizardTypeDlm ? "TOS_LINK" : "EULA_LINK");
    RegisterText(IDC_SDK_LINK, "SDK_LINK");
    ApplyTexts();
    SizeLinks();

    privacyLink.SetUrl(config->productPrivacyUrl);
    termsLink.SetUrl(config->productTermsUrl);
    sdkLink.SetUrl(config->sdkPrivacyUrl);
    return TRUE;
}

void WelcomePageIsv::ApplyTexts() {
    IPage::ApplyTexts();
    SizeLinks();
}

void WelcomePageIsv::SizeLinks() {
    privacyLink.SizeToContent();
    termsLink.SizeToContent();
    sdkLink.SizeToContent();
}

void WelcomePageIsv::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED) {
        if (id == IDC_NEXT) return SendButton(ButtonType::Next);
        for (const LinkButton* link : {&privacyLink, &termsLink, &sdkLink})
            if (link->GetSafeHwnd() && id == link->Id()) return link->Open();
    }
    IPage::OnCommand(id, code, control);
}
