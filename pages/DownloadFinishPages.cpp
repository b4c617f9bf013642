#include "DownloadFinishPages.h"

#include "resources/resource.h"

SequenceEndPage::SequenceEndPage(std::shared_ptr<LanguageManager> languageManager,
                                 std::shared_ptr<ConfigurationManager> config, UINT templateId, HWND parent,
                                 int buttonId, const char* buttonKey, ButtonType button, const wchar_t* name)
    : IPage(std::move(languageManager), std::move(config), templateId, parent),
      buttonId_(buttonId),
      buttonKey_(buttonKey),
      button_(button),
      name_(name) {}

BOOL SequenceEndPage::OnInitDialog() {
    RegisterText(buttonId_, buttonKey_);
    ApplyTexts();
    return TRUE;
}

void SequenceEndPage::OnCommand(WORD id, WORD code, HWND) {
    if (id == buttonId_ && code == BN_CLICKED) SendButton(button_);
}

DownloadPageDlm::DownloadPageDlm(std::shared_ptr<LanguageManager> languageManager,
                                 std::shared_ptr<ConfigurationManager> config, HWND parent)
    : SequenceEndPage(std::move(languageManager), std::move(config), IDD_DOWNLOAD_PAGE_DLM, parent, IDC_NEXT,
                      "BUTTON_NEXT", ButtonType::Next, L"DownloadPageDLM") {}

DownloadPageIsv::DownloadPageIsv(std::shared_ptr<LanguageManager> languageManager,
                                 std::shared_ptr<ConfigurationManager> config, HWND parent)
    : SequenceEndPage(std::move(languageManager), std::move(config), IDD_DOWNLOAD_PAGE_ISV, parent, IDC_NEXT,
                      "BUTTON_NEXT", ButtonType::Next, L"DownloadPageISV") {}

FinishPageDlm::FinishPageDlm(std::shared_ptr<LanguageManager> languageManager,
                             std::shared_ptr<ConfigurationManager> config, HWND parent)
    : SequenceEndPage(std::move(languageManager), std::move(config), IDD_FINISH_PAGE_DLM, parent, IDC_FINISH,
                      "BUTTON_FINISH", ButtonType::Finish, L"FinishPageDLM") {}

FinishPageIsv::FinishPageIsv(std::shared_ptr<LanguageManager> languageManager,
                             std::shared_ptr<ConfigurationManager> config, HWND parent)
    : SequenceEndPage(std::move(languageManager), std::move(config), IDD_FINISH_PAGE_ISV, parent, IDC_FINISH,
                      "BUTTON_FINISH", ButtonType::Finish, L"FinishPageISV") {}
