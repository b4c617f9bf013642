#include "DownloadPageIsv.h"

#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "resources/resource.h"

DownloadPageIsv::DownloadPageIsv(std::shared_ptr<LanguageManager> languageManager,
                                 std::shared_ptr<ConfigurationManager> config, HWND parent)
    : DownloadPage(std::move(languageManager), std::move(config), IDD_DOWNLOAD_PAGE_ISV, parent) {}

void DownloadPageIsv::LoadPageImage() { image.LoadFromResource(IDR_IMAGE_WELCOME, L"IMAGE_BLOB"); }

DownloadSource DownloadPageIsv::SourceFor(const Package& package) const {
    if (package.isMain) return MainSourceIsv(config->productUrl, config->fileEndpointUrl);
    return OfferSource(package.GetDownloadUrl(), config->fileEndpointUrl, package.sha256);
}

void DownloadPageIsv::OnDownloaded(const std::shared_ptr<Package>& package, bool success) {
    if (!success) {
        if (package->isMain) installFailed = true;
        return;
    }
    if (package->isMain) config->SetDownloadedFilePath(downloads->lastFilePath);
    installQueue.emplace_back(package, downloads->lastFilePath);
}

void DownloadPageIsv::OnDownloadsDone() {
    Call(installStartedCallback);
    OnDownloadSizeUnknown();  // the installers give no progress
    StartNextInstall();
}

void DownloadPageIsv::StartNextInstall() {
    if (stopped) return;
    if (installQueue.empty()) {
        // Nothing was downloaded, the product included.
        if (errorCallback)
            errorCallback(languageManager->Translate("PAGE_ERROR_TITLE"), languageManager->Translate("PAGE_ERROR_TEXT"));
        return;
    }
    while (!installQueue.empty()) {
        const auto [package, downloaded] = installQueue.front();
        const std::wstring path = LaunchTargetOf(downloaded, config->downloadFolder);
        if (package->isMain) {
            const std::wstring arguments = config->btClassicPages
                                               ? ForcedInstallArguments(config->btOptions, config->btConfigurations)
                                               : config->mainInstallerArguments;
            StartLaunch(path, arguments, true);
            mainInstallerPath = path;
            // The entry stays at the front until the installer has ended.
            ::SetTimer(hwnd_, INSTALL_POLL_TIMER, kPollMilliseconds, nullptr);
            return;
        }
        StartLaunch(path, package->GetParameters(), false);
        package->SendEvent(3);
        installQueue.pop_front();
    }
    Call(installEndedCallback);
    Finish();
}

void DownloadPageIsv::OnTimer(UINT_PTR id) {
    if (id == INSTALL_POLL_TIMER)
        OnInstallTimer();
    else
        DownloadPage::OnTimer(id);
}

void DownloadPageIsv::OnInstallTimer() {
    if (stopped || !currentLaunch.valid()) return;
    if (currentLaunch.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
    ::KillTimer(hwnd_, INSTALL_POLL_TIMER);
    const std::shared_ptr<Package> package = installQueue.front().first;
    Call(installEndedCallback);
    LaunchResult result{kNoExitCode, L"exit code = 4294967295"};
    try {
        result = currentLaunch.get();
    } catch (const std::exception&) {
        // Reported as a start that gave no exit code.
    }
    if (result.first != 0) {
        SendFailure(package, "EXEC FAILED: ", result.second);
        installFailed = true;
    } else {
        config->SetDownloadedFilePath(mainInstallerPath);
        package->SendEvent(3);
    }
    installQueue.pop_front();
    if (installQueue.empty()) return Finish();
    StartNextInstall();
}

void DownloadPageIsv::Finish() {
    if (stopped) return;
    if (installFailed && errorCallback) {
        errorCallback(languageManager->Translate("PAGE_ERROR_TITLE"), languageManager->Translate("PAGE_ERROR_TEXT"));
        return;
    }
    SendButton(ButtonType::Next);
}
