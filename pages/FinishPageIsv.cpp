#include "FinishPageIsv.h"

#include "config/ConfigurationManager.h"
#include "resources/resource.h"

FinishPageIsv::FinishPageIsv(std::shared_ptr<LanguageManager> manager,
                             std::shared_ptr<ConfigurationManager> configuration, HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_FINISH_PAGE_ISV, parent),
      shellOpener(ShellExecuteOpener()) {}

BOOL FinishPageIsv::OnInitDialog() {
    launchCheck = GetItem(IDC_LAUNCH_CHECK);
    RegisterText(IDC_FINISH_TITLE, "PAGE_FINISH_TITLE");
    RegisterText(IDC_FINISH_TEXT, "PAGE_FINISH_TEXT");
    RegisterText(IDC_FINISH, "BUTTON_FINISH");
    RegisterText(IDC_LAUNCH_CHECK, "LAUNCH_CHECKBOX");
    ApplyTexts();
    ::SendMessageW(launchCheck, BM_SETCHECK, BST_CHECKED, 0);
    image.Attach(GetItem(IDC_PAGE_IMAGE));
    image.LoadFromResource(IDR_IMAGE_FINISH, L"IMAGE_BLOB2");
    return TRUE;
}

void FinishPageIsv::OnNavigateToPage() { RemoveMinimizeBox(::GetParent(hwnd_)); }

void FinishPageIsv::Finish() {
    const bool launch = ::SendMessageW(launchCheck, BM_GETCHECK, 0, 0) == BST_CHECKED;
    // Expanded only when used: the placeholder list is read off the machine.
    const auto call =
        IsvFinishCall(launch, launch ? config->ExpandFolderPlaceholders(config->launchCommand) : std::wstring(),
                      config->launchParameters);
    if (call && shellOpener) shellOpener(call->file, call->parameters);
    SendButton(ButtonType::Finish);
}

void FinishPageIsv::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_FINISH) return Finish();
    IPage::OnCommand(id, code, control);
}
