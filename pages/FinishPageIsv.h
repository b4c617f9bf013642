#pragma once
#include "FinishActions.h"
#include "IPage.h"
#include "app/StaticFromImage.h"

// The last page of an ISV run: optionally start the installed application,
// then end the wizard.
class FinishPageIsv : public IPage {
public:
    FinishPageIsv(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                  HWND parent);
    void OnNavigateToPage() override;
    std::wstring GetName() const override { return L"FinishPageISV"; }
    // Where Finish's launch goes; the shell unless replaced.
    void SetShellOpener(ShellOpener opener) { shellOpener = std::move(opener); }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    void Finish();

    HWND launchCheck = nullptr;
    CStaticFromImage image;
    ShellOpener shellOpener;
};
