#pragma once
#include "IPage.h"
#include "app/StaticFromImage.h"

// Shown over whatever page was current when something failed: an image, a
// title and a text the wizard passes, and Close.
class ErrorPage : public IPage {
public:
    ErrorPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
              HWND parent);
    // Shows exactly these texts (an empty one empties its line).
    void SetTexts(const std::wstring& newTitle, const std::wstring& newText);
    // The error page is where errors go; it takes no error callback.
    void SetErrorCallback(ErrorCallback) override {}
    std::wstring GetName() const override { return L"ErrorPage"; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    void ShowTexts();

    std::wstring title;
    std::wstring text;
    CStaticFromImage image;
};
