#pragma once
#include "DownloadPage.h"

// The download manager's download page: the product into the download folder,
// then the accepted offers, whose installers are started without waiting;
// the finish page follows, or the download error when the product failed.
class DownloadPageDlm : public DownloadPage {
public:
    DownloadPageDlm(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                    HWND parent);
    std::wstring GetName() const override { return L"DownloadPageDLM"; }

protected:
    void LoadPageImage() override;
    DownloadSource SourceFor(const Package& package) const override;
    void OnDownloaded(const std::shared_ptr<Package>& package, bool success) override;
    void OnDownloadsDone() override;

private:
    void StartNextInstall();
    void Finish();

    bool mainProductFailed = false;
};
