#pragma once
#include <functional>
#include <future>
#include <memory>

#include "IPage.h"
#include "LoadPackages.h"

// Fetches the remote configuration on a worker thread, turns it into the
// offers to show, downloads their images and the product logo, then hands the
// offers to the wizard once.
class LoadingPage : public IPage {
public:
    // Called once per load, on whichever thread finishes last, with the page's
    // lock held: it must only store the list and post a message.
    using CompletionCallback = std::function<void(OfferList offers)>;
    // The configuration answer as the loading task reads it: the request and
    // the network in the program, a table in tests.
    using AnswerSource = std::function<nlohmann::json()>;

    LoadingPage(std::shared_ptr<LanguageManager> languageManager, std::shared_ptr<ConfigurationManager> config,
                HWND parent, AnswerSource source = nullptr, LoadFactories factories = {});
    ~LoadingPage() override;

    std::wstring GetName() const override { return L"LoadingPage"; }
    void OnNavigateToPage() override;
    void SetCompletionCallback(CompletionCallback callback);
    // After this no worker posts to the page or calls the completion callback.
    void Revoke();

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct Shared;
    static void LoadPackagesTask(std::shared_ptr<Shared> shared);
    static void FinishOneDownload(const std::shared_ptr<Shared>& shared);
    LRESULT OnRequestComplete();
    void ShowConfigurationError();

    std::shared_ptr<Shared> shared_;
    std::future<OfferList> loadResult_;
    bool started_ = false;
};

// The configuration answer from the service: the request built from the
// configuration and the program's file name, sent through the API manager.
nlohmann::json RequestRemoteConfiguration(const ConfigurationManager& config);
// Packages and the filter as the program makes them.
LoadFactories ProgramLoadFactories(std::shared_ptr<ConfigurationManager> config);
