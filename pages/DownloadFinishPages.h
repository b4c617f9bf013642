#pragma once
// The download and finish pages in their places of the sequence. For now
// their one button moves on: Next from the download page, Finish from the
// finish page.
#include "IPage.h"

class SequenceEndPage : public IPage {
public:
    SequenceEndPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                    UINT templateId, HWND parent, int buttonId, const char* buttonKey, ButtonType button,
                    const wchar_t* name);
    std::wstring GetName() const override { return name_; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code, HWND control) override;

private:
    int buttonId_;
    const char* buttonKey_;
    ButtonType button_;
    std::wstring name_;
};

class DownloadPageDlm : public SequenceEndPage {
public:
    DownloadPageDlm(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                    HWND parent);
};
class DownloadPageIsv : public SequenceEndPage {
public:
    DownloadPageIsv(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                    HWND parent);
};
class FinishPageDlm : public SequenceEndPage {
public:
    FinishPageDlm(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                  HWND parent);
};
class FinishPageIsv : public SequenceEndPage {
public:
    FinishPageIsv(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                  HWND parent);
};
