#include "LoadingPage.h"

#include <commctrl.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "api/ApiManager.h"
#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "download/DownloadManager.h"
#include "eligibility/OfferFilter.h"
#include "locale/LanguageManager.h"
#include "resources/resource.h"
#include "util/DetachedThread.h"
#include "util/Images.h"
#include "util/WindowMessages.h"
#include "util/WindowsVersion.h"

// What the loading task and the image downloads share with the page. They
// hold it, not the page: the page may be gone before they end.
struct LoadingPage::Shared {
    std::shared_ptr<ConfigurationManager> config;
    AnswerSource source;
    LoadFactories factories;
    std::promise<OfferList> result;
    std::atomic<bool> configurationError{false};

    std::mutex lock;  // guards everything below
    HWND page = nullptr;
    CompletionCallback completion;
    int pendingDownloads = 0;
    bool handedOver = false;
    OfferList offers;

    void PostToPage(UINT message) {
        std::lock_guard<std::mutex> guard(lock);
        if (page) ::PostMessageW(page, message, 0, 0);
    }
    // Under the lock.
    void HandOver() {
        if (handedOver || !completion) return;
        handedOver = true;
        completion(offers);
    }
};

nlohmann::json RequestRemoteConfiguration(const ConfigurationManager& config) {
    ConfigurationRequestFacts facts;
    facts.fileVersion = config.fileVersion;
    facts.languageCode = config.languageCode;
    facts.brand = config.brand;
    facts.appId = config.appId;
    facts.stubId = config.stubId;
    facts.downloadTag = OwnDownloadTag();
    facts.windowsVersion = WindowsVersionText();
    return GetApiManager()->RequestConfiguration(config.configEndpointUrl, BuildConfigurationRequest(facts));
}

LoadFactories ProgramLoadFactories(std::shared_ptr<ConfigurationManager> config) {
    LoadFactories make;
    make.filter = [config](int32_t maxOffers) { return std::make_unique<OfferFilter>(maxOffers, config); };
    make.package = [config](const nlohmann::json& element, int32_t position) {
        return Package::CreateOffer(BuildSignedRequest(*config), element, "", position,
                                    EnvironmentFromConfiguration(config));
    };
    return make;
}

LoadingPage::LoadingPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                         HWND parent, AnswerSource source, LoadFactories factories)
    : IPage(std::move(languageManager), config, IDD_LOADING_PAGE, parent), shared_(std::make_shared<Shared>()) {
    shared_->config = std::move(config);
    shared_->source = source ? std::move(source) : AnswerSource([cfg = shared_->config] {
        return RequestRemoteConfiguration(*cfg);
    });
    shared_->factories = factories.filter && factories.package ? std::move(factories) : ProgramLoadFactories(shared_->config);
}

LoadingPage::~LoadingPage() { Revoke(); }

void LoadingPage::Revoke() {
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->page = nullptr;
    shared_->completion = nullptr;
}

void LoadingPage::SetCompletionCallback(CompletionCallback callback) {
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->completion = std::move(callback);
}

BOOL LoadingPage::OnInitDialog() {
    std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->page = hwnd_;
    return TRUE;
}

void LoadingPage::OnNavigateToPage() {
    HWND progress = GetItem(IDC_PROGRESS);
    ::SetWindowLongPtrW(progress, GWL_STYLE, ::GetWindowLongPtrW(progress, GWL_STYLE) | PBS_MARQUEE);
    ::SendMessageW(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ::SendMessageW(progress, PBM_SETPOS, 0, 0);
    ::SendMessageW(progress, PBM_SETMARQUEE, TRUE, 30);
    // The page loads once, however often it is shown.
    if (started_) return;
    started_ = true;
    loadResult_ = shared_->result.get_future();
    // A worker nobody joins: closing the wizard must not wait for the network.
    auto shared = shared_;
    if (!StartDetachedThread([shared] { LoadPackagesTask(shared); })) {
        shared_->result.set_exception(std::make_exception_ptr(std::runtime_error("Cannot start the loading task")));
        shared_->PostToPage(WM_REQUEST_COMPLETE);
    }
}

void LoadingPage::LoadPackagesTask(std::shared_ptr<Shared> shared) {
    try {
        const nlohmann::json answer = shared->source();
        LoadOutcome outcome = ReadConfigurationAnswer(answer, *shared->config, shared->factories);
        if (outcome.configurationError) shared->configurationError = true;
        shared->result.set_value(std::move(outcome.offers));
    } catch (...) {
        shared->result.set_exception(std::current_exception());
    }
    shared->PostToPage(WM_REQUEST_COMPLETE);
}

bool LoadingPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_REQUEST_COMPLETE) {
        result = OnRequestComplete();
        return true;
    }
    return IPage::OnMessage(message, wParam, lParam, result);
}

LRESULT LoadingPage::OnRequestComplete() {
    if (!loadResult_.valid()) return 0;  // handled already
    OfferList offers;
    try {
        offers = loadResult_.get();
    } catch (...) {
        if (config->wizardType != kWizardTypeIsv) {
            ShowConfigurationError();
            return 0;
        }
        offers.clear();  // the installer goes on without offers
    }
    if (shared_->configurationError) {
        ShowConfigurationError();
        return 0;
    }

    std::unique_lock<std::mutex> guard(shared_->lock);
    shared_->offers = offers;
    shared_->pendingDownloads = static_cast<int>(offers.size());
    const std::wstring logoUrl = config->wizardType == kWizardTypeDlm ? config->productLogoUrl : std::wstring();
    if (!logoUrl.empty()) ++shared_->pendingDownloads;
    if (shared_->pendingDownloads == 0) shared_->HandOver();
    guard.unlock();

    auto shared = shared_;
    if (!logoUrl.empty()) {
        GetDownloadManager()->DownloadToMemoryAsync(logoUrl, [shared](std::unique_ptr<DownloadBuffer> bytes) {
            if (bytes && !bytes->empty()) {
                // Read by the wizard only after the hand-over.
                if (auto image = DecodeImage(bytes->data(), bytes->size())) shared->config->productImage = image;
            }
            FinishOneDownload(shared);
        });
    }
    for (const auto& offer : offers) offer->DownloadImage([shared] { FinishOneDownload(shared); });
    return 0;
}

void LoadingPage::FinishOneDownload(const std::shared_ptr<Shared>& shared) {
    std::lock_guard<std::mutex> guard(shared->lock);
    if (--shared->pendingDownloads == 0) shared->HandOver();
}

void LoadingPage::ShowConfigurationError() {
    if (!errorCallback) return;
    errorCallback(languageManager->Translate("PAGE_CONFIGURATION_ERROR_TITLE"),
                  languageManager->Translate("PAGE_CONFIGURATION_ERROR_DESC"));
}
