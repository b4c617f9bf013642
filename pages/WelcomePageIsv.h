#pragma once
#include "IPage.h"
#include "LinkButton.h"
#include "app/StaticFromImage.h"

// The page after loading in the normal flow (both wizard types): the product's
// image and title, a welcome text and up to three links.
class WelcomePageIsv : public IPage {
public:
    WelcomePageIsv(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                   HWND parent);
    // Translates, then fits each link to its new caption.
    void ApplyTexts() override;
    std::wstring GetName() const override { return L"WelcomePage"; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    void SizeLinks();

    LinkButton privacyLink;
    LinkButton termsLink;
    LinkButton sdkLink;
    CStaticFromImage image;
};
