// The service's real configuration answers, read by the wizard's own parser
// and judged by its own download rules: every address the wizard would fetch
// (the product, its logo, each offer's installer and image) is fetched.
#include <gtest/gtest.h>

#include <windows.h>

#include <future>
#include <memory>
#include <string>

#include "api/ApiManager.h"
#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "download/DownloadManager.h"
#include "pages/DownloadPlan.h"
#include "pages/LoadPackages.h"
#include "pages/LoadingPage.h"
#include "util/Images.h"
#include "util/Text.h"
#include "util/WindowsVersion.h"

namespace {

nlohmann::json AnswerFor(const ConfigurationManager& config, const std::string& tag) {
    ConfigurationRequestFacts facts;
    facts.fileVersion = config.fileVersion;
    facts.languageCode = L"en";
    facts.brand = config.brand;
    facts.appId = config.appId;
    facts.stubId = config.stubId;
    facts.downloadTag = tag;
    facts.windowsVersion = WindowsVersionText();
    return ApiManager().RequestConfiguration(config.configEndpointUrl, BuildConfigurationRequest(facts));
}

}  // namespace

TEST(ServiceAnswer, EveryAddressTheWizardFetchesIsThere) {
    const auto downloads = GetDownloadManager();
    // The demo's campaign and test scenarios with products, archives and both
    // kinds of offer address.
    for (const char* tag : {"", "t3-acpt", "tz-zip1", "tb-isv1"}) {
        SCOPED_TRACE(std::string("tag \"") + tag + "\"");
        auto config = std::make_shared<ConfigurationManager>("DLM", nullptr);
        const nlohmann::json answer = AnswerFor(*config, tag);
        const LoadOutcome outcome = ReadConfigurationAnswer(answer, *config, ProgramLoadFactories(config));
        ASSERT_FALSE(outcome.configurationError);

        const DownloadSource product = MainSourceDlm(config->productUrl, config->productFileName);
        EXPECT_FALSE(downloads->DownloadToMemory(product.url).empty()) << WideToUtf8(product.url);
        const DownloadBuffer logo = downloads->DownloadToMemory(config->productLogoUrl);
        EXPECT_TRUE(!logo.empty() && DecodeImage(logo.data(), logo.size())) << WideToUtf8(config->productLogoUrl);

        ASSERT_FALSE(outcome.offers.empty());
        for (const auto& offer : outcome.offers) {
            const DownloadSource installer = OfferSource(offer->GetDownloadUrl(), config->fileEndpointUrl);
            EXPECT_FALSE(downloads->DownloadToMemory(installer.url).empty())
                << offer->offerId << ": " << WideToUtf8(installer.url);
            std::promise<void> done;
            offer->DownloadImage([&done] { done.set_value(); });
            done.get_future().wait();
            EXPECT_TRUE(offer->image) << offer->offerId << ": no image from " << offer->imagePath;
            offer->ReleaseImage();
        }
        ::RemoveDirectoryW(config->tempFolder.c_str());
    }
}
