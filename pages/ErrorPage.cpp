#include "ErrorPage.h"

#include "resources/resource.h"

ErrorPage::ErrorPage(std::shared_ptr<LanguageManager> manager, std::shared_ptr<ConfigurationManager> configuration,
                     HWND parent)
    : IPage(std::move(manager), std::move(configuration), IDD_ERROR_PAGE, parent) {}

BOOL ErrorPage::OnInitDialog() {
    ShowTexts();  // replaces the template's texts, with nothing until an error arrives
    image.Attach(GetItem(IDC_PAGE_IMAGE));
    image.LoadFromResource(IDR_IMAGE_ERROR, L"IMAGE_BLOB3");
    RegisterText(IDC_CLOSE, "BUTTON_CLOSE");
    ApplyTexts();
    return TRUE;
}

void ErrorPage::SetTexts(const std::wstring& newTitle, const std::wstring& newText) {
    title = newTitle;
    text = newText;
    ShowTexts();
}

void ErrorPage::ShowTexts() {
    if (!hwnd_) return;
    ::SetDlgItemTextW(hwnd_, IDC_ERROR_TITLE, title.c_str());
    ::SetDlgItemTextW(hwnd_, IDC_ERROR_TEXT, text.c_str());
}

void ErrorPage::OnCommand(WORD id, WORD code, HWND control) {
    if (code == BN_CLICKED && id == IDC_CLOSE) return SendButton(ButtonType::Close);
    IPage::OnCommand(id, code, control);
}
