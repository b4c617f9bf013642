#include "LicensePageIsv.h"

#include <commctrl.h>
#include <richedit.h>

#include "Links.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "resources/resource.h"
#include "util/SystemLibrary.h"

bool EnsureRichEditLoaded() {
    // Loaded once and kept for the life of the process: the window class it
    // registers must outlive every page that uses it.
    static const HMODULE richEdit = LoadSystemLibrary(L"riched20.dll");
    return richEdit != nullptr;
}

LicensePageIsv::LicensePageIsv(std::shared_ptr<LanguageManager> manager,
                               std::shared_ptr<ConfigurationManager> configuration, HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_LICENSE_PAGE, parent) {
    EnsureRichEditLoaded();
    EnsureLinkClass();
}

BOOL LicensePageIsv::OnInitDialog() {
    eulaText = GetItem(IDC_EULA_TEXT);
    licenseTitle = GetItem(IDC_LICENSE_TITLE);
    licenseLinks = GetItem(IDC_LICENSE_LINKS);
    ::SendMessageW(eulaText, EM_AUTOURLDETECT, TRUE, 0);
    backgroundBrush.Reset(::CreateSolidBrush(config->backgroundColor));
    RegisterText(IDC_PRODUCT_TITLE, "PRODUCT_TITLE");  // not on this template: no effect
    RegisterText(IDC_LICENSE_TITLE, "LICENSE_TITLE");
    RegisterText(IDC_LICENSE_TEXT, "LICENSE_TEXT");
    RegisterText(IDC_AGREE, "BUTTON_AGREE");
    RegisterText(IDC_BACK, "BUTTON_BACK");
    RegisterText(IDC_EULA_TEXT, "LICENSE_EULA");
    RegisterText(IDC_LICENSE_LINKS, "LICENSE_DISCLAIMER");
    ApplyTexts();
    MakeTitleBold(licenseTitle, titleFont);
    return TRUE;
}

void LicensePageIsv::ApplyTexts() {
    IPage::ApplyTexts();
    HWND links = GetItem(IDC_LICENSE_LINKS);
    if (!links) return;
    const std::wstring text = languageManager->Translate("LICENSE_DISCLAIMER");
    if (text.empty()) return;  // the template's text has no placeholders
    const std::wstring filled = ReplacePlaceholders(
        text, {{L"[LICENSE_TOS_URL]", config->productTermsUrl}, {L"[LICENSE_PRIVACY_URL]", config->productPrivacyUrl}});
    ::SetWindowTextW(links, filled.c_str());
}

void LicensePageIsv::OnNavigateToPage() {
    ::SendMessageW(eulaText, EM_SETSEL, 0, 0);
    if (HWND agree = GetItem(IDC_AGREE)) ::SetFocus(agree);
}

void LicensePageIsv::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_AGREE) return SendButton(ButtonType::Next);
    if (code == BN_CLICKED && id == IDC_BACK) return SendButton(ButtonType::Back);
    IPage::OnCommand(id, code, control);
}

bool LicensePageIsv::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->idFrom == IDC_LICENSE_LINKS && header->hwndFrom == licenseLinks && licenseLinks) {
            OpenLink(ClickedLinkUrl(*header));
            result = 0;
            return true;
        }
    }
    return IPage::OnMessage(message, wParam, lParam, result);
}

HBRUSH LicensePageIsv::OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (control && control == licenseLinks) {
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(backgroundBrush.Get());
    }
    return IPage::OnCtlColor(dc, control, kind);
}
