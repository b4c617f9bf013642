#pragma once
#include "FinishActions.h"
#include "IPage.h"
#include "app/StaticFromImage.h"

// The last page of a DLM run: launch the downloaded product or open the
// folder that holds it, then end the wizard.
class FinishPageDlm : public IPage {
public:
    FinishPageDlm(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                  HWND parent);
    void OnNavigateToPage() override;
    std::wstring GetName() const override { return L"FinishPageDLM"; }
    // Where Finish's launch goes; the shell unless replaced.
    void SetShellOpener(ShellOpener opener) { shellOpener = std::move(opener); }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    void Finish();

    HWND launchRadio = nullptr;
    HWND openFolderRadio = nullptr;
    CStaticFromImage image;
    ShellOpener shellOpener;
};
