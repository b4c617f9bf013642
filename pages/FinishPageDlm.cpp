#include "FinishPageDlm.h"

#include "config/ConfigurationManager.h"
#include "resources/resource.h"

FinishPageDlm::FinishPageDlm(std::shared_ptr<LanguageManager> manager,
                             std::shared_ptr<ConfigurationManager> configuration, HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_FINISH_PAGE_DLM, parent),
      shellOpener(ShellExecuteOpener()) {}

BOOL FinishPageDlm::OnInitDialog() {
    launchRadio = GetItem(IDC_LAUNCH_RADIO);
    openFolderRadio = GetItem(IDC_OPEN_FOLDER_RADIO);
    RegisterText(IDC_FINISH_TITLE, "PAGE_FINISH_TITLE");
    RegisterText(IDC_FINISH_TEXT, "PAGE_FINISH_TEXT");
    RegisterText(IDC_FINISH, "BUTTON_FINISH");
    RegisterText(IDC_LAUNCH_RADIO, "LAUNCH_RADIO");
    RegisterText(IDC_OPEN_FOLDER_RADIO, "OPEN_FOLDER_RADIO");
    ApplyTexts();
    ::SendMessageW(launchRadio, BM_SETCHECK, BST_CHECKED, 0);
    image.Attach(GetItem(IDC_PAGE_IMAGE));
    image.LoadFromResource(IDR_IMAGE_FINISH, L"IMAGE_BLOB2");
    return TRUE;
}

void FinishPageDlm::OnNavigateToPage() { RemoveMinimizeBox(::GetParent(hwnd_)); }

void FinishPageDlm::Finish() {
    auto checked = [](HWND button) { return ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; };
    DlmFinishChoice choice = DlmFinishChoice::None;
    if (checked(launchRadio))
        choice = DlmFinishChoice::Launch;
    else if (checked(openFolderRadio))
        choice = DlmFinishChoice::OpenFolder;
    const auto call = DlmFinishCall(choice, config->downloadedFilePath, SystemWindowsFolder());
    if (call && shellOpener) shellOpener(call->file, call->parameters);
    SendButton(ButtonType::Finish);
}

void FinishPageDlm::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_FINISH) return Finish();
    IPage::OnCommand(id, code, control);
}
