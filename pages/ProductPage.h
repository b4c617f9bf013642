#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "IPage.h"
#include "app/StaticFromImage.h"

class Package;

// Whether an offer's page shows "Skip All": not on the last offer of the list,
// nor on the offer whose flow limit ("mo") ends the flow at its own position.
bool ShowsSkipAll(int32_t position, int32_t flowLimit, int packageCount);

// The offer's disclaimer with the package's name and its two addresses put in.
std::wstring FillDisclaimer(const std::wstring& text, const Package& package);

// One offer: its image, a disclaimer with links to its privacy policy and
// terms, and Accept, Decline and Skip All.
class ProductPage : public IPage {
public:
    ProductPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                std::shared_ptr<Package> package, HWND parent);
    void OnNavigateToPage() override;
    // The disclaimer's placeholders are filled on every translation, so a
    // language chosen later shows the offer's name and links too.
    void ApplyTexts() override;
    std::wstring GetName() const override { return L"ProductPage"; }
    const std::shared_ptr<Package>& GetPackage() const { return package; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void Accept();
    void Decline(ButtonType button);

    std::shared_ptr<Package> package;
    CStaticFromImage image;
    tamsel::GdiObject backgroundBrush;
};
