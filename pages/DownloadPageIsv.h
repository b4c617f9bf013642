#pragma once
#include <functional>

#include "DownloadPage.h"

// The installer's download page: the product and the accepted offers are
// downloaded into the temporary folder, then the product's installer runs and
// is waited for, and the offers' installers are started after it; the finish
// page follows, or the installation error.
class DownloadPageIsv : public DownloadPage {
public:
    static constexpr UINT_PTR INSTALL_POLL_TIMER = 0x1002;

    DownloadPageIsv(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                    HWND parent);
    std::wstring GetName() const override { return L"DownloadPageISV"; }

    // The wizard asks before quitting while installers run.
    void SetInstallStartedCallback(std::function<void()> callback) { installStartedCallback = std::move(callback); }
    void SetInstallEndedCallback(std::function<void()> callback) { installEndedCallback = std::move(callback); }

protected:
    void LoadPageImage() override;
    DownloadSource SourceFor(const Package& package) const override;
    void OnDownloaded(const std::shared_ptr<Package>& package, bool success) override;
    void OnDownloadsDone() override;
    void OnTimer(UINT_PTR id) override;

private:
    void StartNextInstall();
    void OnInstallTimer();
    void Finish();
    static void Call(const std::function<void()>& callback) {
        if (callback) callback();
    }

    std::function<void()> installStartedCallback;
    std::function<void()> installEndedCallback;
    std::wstring mainInstallerPath;
    bool installFailed = false;
};
