#include "DownloadPageDlm.h"

#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "locale/LanguageManager.h"
#include "resources/resource.h"

DownloadPageDlm::DownloadPageDlm(std::shared_ptr<LanguageManager> languageManager,
                                 std::shared_ptr<ConfigurationManager> config, HWND parent)
    : DownloadPage(std::move(languageManager), std::move(config), IDD_DOWNLOAD_PAGE_DLM, parent) {}

void DownloadPageDlm::LoadPageImage() { image.SetImage(config->productImage); }

DownloadSource DownloadPageDlm::SourceFor(const Package& package) const {
    if (package.isMain) return MainSourceDlm(config->productUrl, config->productFileName, config->productSha256);
    return OfferSource(package.GetDownloadUrl(), config->fileEndpointUrl, package.sha256);
}

void DownloadPageDlm::OnDownloaded(const std::shared_ptr<Package>& package, bool success) {
    if (!success) {
        if (package->isMain) mainProductFailed = true;
        return;
    }
    if (package->isMain) {
        config->SetDownloadedFilePath(downloads->lastFilePath);
        package->SendEvent(3);
    } else {
        installQueue.emplace_back(package, downloads->lastFilePath);
    }
}

void DownloadPageDlm::OnDownloadsDone() {
    if (installQueue.empty()) return Finish();
    StartNextInstall();
}

// Offer installers are started one after the other; none is waited for and
// their results are not read.
void DownloadPageDlm::StartNextInstall() {
    while (!installQueue.empty() && !stopped) {
        const auto [package, downloaded] = installQueue.front();
        const std::wstring path = LaunchTargetOf(downloaded, config->tempFolder);
        const std::wstring arguments = package->isMain ? config->mainInstallerArguments : package->GetParameters();
        StartLaunch(path, arguments, package->isMain);
        package->SendEvent(3);
        installQueue.pop_front();
    }
    Finish();
}

void DownloadPageDlm::Finish() {
    if (stopped) return;
    if (mainProductFailed && errorCallback) {
        errorCallback(languageManager->Translate("PAGE_DOWNLOAD_ERROR_TITLE"),
                      languageManager->Translate("PAGE_DOWNLOAD_ERROR_DESC"));
        return;
    }
    SendButton(ButtonType::Next);
}
