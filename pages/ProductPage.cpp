#include "ProductPage.h"

#include <commctrl.h>

#include <algorithm>

#include "Links.h"
#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "resources/resource.h"
#include "util/Text.h"

namespace {

// Offer texts come from the configuration's JSON, which is UTF-8.
std::wstring OfferText(const std::string& text) {
    try {
        return Utf8ToWide(text);
    } catch (const std::exception&) {
        return AnsiToWide(text, CP_ACP);
    }
}

void AddOnce(std::vector<std::shared_ptr<Package>>& list, const std::shared_ptr<Package>& package) {
    if (std::find(list.begin(), list.end(), package) == list.end()) list.push_back(package);
}

}  // namespace

bool ShowsSkipAll(int32_t position, int32_t flowLimit, int packageCount) {
    // In 64 bits: a position at the top of the range must not wrap.
    const int64_t next = static_cast<int64_t>(position) + 1;
    return next != packageCount && next != flowLimit;
}

std::wstring FillDisclaimer(const std::wstring& text, const Package& package) {
    return ReplacePlaceholders(text, {{L"[PACKAGE_NAME]", OfferText(package.displayName)},
                                      {L"[PACKAGE_PRIVACY_URL]", OfferText(package.privacyUrl)},
                                      {L"[PACKAGE_EULA_URL]", OfferText(package.termsUrl)}});
}

ProductPage::ProductPage(std::shared_ptr<LanguageManager> manager, std::shared_ptr<ConfigurationManager> configuration,
                         std::shared_ptr<Package> offer, HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_PRODUCT_PAGE, parent), package(std::move(offer)) {
    EnsureLinkClass();
}

BOOL ProductPage::OnInitDialog() {
    backgroundBrush.Reset(::CreateSolidBrush(config->backgroundColor));
    ::ShowWindow(GetItem(IDC_SKIP_ALL),
                 ShowsSkipAll(package->position, package->flow.mo, config->packageCount) ? SW_SHOWNA : SW_HIDE);
    image.Attach(GetItem(IDC_PRODUCT_IMAGE));
    image.SetImage(package->image);
    RegisterText(IDC_ACCEPT, "BUTTON_ACCEPT");
    RegisterText(IDC_DECLINE, "BUTTON_DECLINE");
    RegisterText(IDC_SKIP_ALL, "BUTTON_SKIP_ALL");
    RegisterText(IDC_PRODUCT_DISCLAIMER, "PRODUCT_DISCLAIMER");
    ApplyTexts();
    return TRUE;
}

void ProductPage::ApplyTexts() {
    IPage::ApplyTexts();
    HWND disclaimer = GetItem(IDC_PRODUCT_DISCLAIMER);
    if (!disclaimer) return;
    // Filled from the translation rather than read back from the control: a
    // SysLink need not give its markup back, and the control may already hold
    // a filled text.
    const std::wstring text = languageManager->Translate("PRODUCT_DISCLAIMER");
    if (text.empty()) return;
    ::SetWindowTextW(disclaimer, FillDisclaimer(text, *package).c_str());
}

void ProductPage::OnNavigateToPage() {
    // Once per offer however often the page is reached: the quit report
    // goes out once for each shown offer.
    AddOnce(config->shownOffers, package);
}

void ProductPage::Accept() {
    AddOnce(config->acceptedOffers, package);
    SendButton(ButtonType::Accept);
}

void ProductPage::Decline(ButtonType button) {
    // An offer accepted earlier and declined after Back is not installed.
    auto& accepted = config->acceptedOffers;
    accepted.erase(std::remove(accepted.begin(), accepted.end(), package), accepted.end());
    config->offerDeclined = true;
    package->SendEvent(4);
    SendButton(button);
}

void ProductPage::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_ACCEPT) return Accept();
    if (code == BN_CLICKED && id == IDC_DECLINE) return Decline(ButtonType::Decline);
    if (code == BN_CLICKED && id == IDC_SKIP_ALL) return Decline(ButtonType::SkipAll);
    IPage::OnCommand(id, code, control);
}

bool ProductPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->idFrom == IDC_PRODUCT_DISCLAIMER && header->hwndFrom == GetItem(IDC_PRODUCT_DISCLAIMER)) {
            OpenLink(ClickedLinkUrl(*header));
            result = 0;
            return true;
        }
    }
    return IPage::OnMessage(message, wParam, lParam, result);
}

HBRUSH ProductPage::OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (control && control == GetItem(IDC_PRODUCT_DISCLAIMER)) {
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(backgroundBrush.Get());
    }
    return IPage::OnCtlColor(dc, control, kind);
}
