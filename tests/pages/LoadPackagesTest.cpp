// The configuration answer as the loading task reads it: what goes into the
// configuration, when it is an error, and which offers come out.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "config/ConfigurationManager.h"
#include "eligibility/FactTable.h"
#include "eligibility/OfferFactory.h"
#include "eligibility/OfferFilter.h"
#include "pages/LoadPackages.h"

namespace {

using json = nlohmann::json;

json Offer(const std::string& id, json settings = json::object()) {
    json ps{{"i", "images/" + id + ".png"}, {"dn", id}, {"u", "https://example.test/" + id + ".exe"}};
    ps.update(settings);
    return json{{"ad", {{"o", id}, {"f", "feed"}}}, {"ps", ps}};
}

json Answer() {
    return json{{"l", "DE"},
                {"i", {{"ct", "Product"}, {"cu", "https://example.test/product.exe"}}},
                {"f", {{"m", 5}, {"a", "publisher"}}},
                {"o", json::array({Offer("a", {{"v", 1}}), Offer("b", {{"v", 2}})})}};
}

// Reads an answer with a download-manager configuration of its own; the
// offers are judged on a machine described by a table.
struct Reader {
    ~Reader() { ::RemoveDirectoryW(config.tempFolder.c_str()); }  // made empty by the configuration

    ConfigurationManager config{"DLM", nullptr};
    OfferFactory factory;
    int32_t filterLimit = -1;

    LoadOutcome Read(const json& answer) {
        LoadFactories make;
        make.filter = [this](int32_t maxOffers) {
            filterLimit = maxOffers;
            return std::make_unique<OfferFilter>(maxOffers, std::make_shared<FactTable>(), GetConfiguration());
        };
        make.package = [this](const json& element, int32_t position) {
            return factory.Make(element.at("ad").at("o").get<std::string>(), element.at("ps"), position);
        };
        return ReadConfigurationAnswer(answer, config, make);
    }
};

std::vector<std::string> Ids(const LoadOutcome& outcome) {
    std::vector<std::string> ids;
    for (const auto& offer : outcome.offers) ids.push_back(offer->offerId);
    return ids;
}

TEST(LoadPackages, TheProductBlockAndFlowValuesGoIntoTheConfiguration) {
    Reader reader;
    json answer = Answer();
    const std::string digest(64, 'c');
    answer["i"].update({{"cl", "https://example.test/logo.png"}, {"cp", "https://example.test/privacy"},
                        {"ctu", "https://example.test/terms"}, {"ch", "channel"}, {"cfl", "feed"}, {"cb", "cb-1"},
                        {"sha256", digest}});
    const LoadOutcome outcome = reader.Read(answer);
    EXPECT_FALSE(outcome.configurationError);
    EXPECT_EQ(Ids(outcome), (std::vector<std::string>{"a", "b"}));
    const ConfigurationManager& c = reader.config;
    EXPECT_EQ(c.productTitle, L"Product");
    EXPECT_EQ(c.productUrl, L"https://example.test/product.exe");
    EXPECT_EQ(c.productLogoUrl, L"https://example.test/logo.png");
    EXPECT_EQ(c.productFileName, L"Product.exe") << "the title with .exe when \"cf\" is absent";
    EXPECT_EQ(c.productPrivacyUrl, L"https://example.test/privacy");
    EXPECT_EQ(c.productTermsUrl, L"https://example.test/terms");
    EXPECT_EQ(c.productCh, L"channel");
    EXPECT_EQ(c.productCfl, L"feed");
    EXPECT_EQ(c.productCb, "cb-1");
    EXPECT_EQ(c.productSha256, digest);
    EXPECT_EQ(c.remoteL, "DE");
    EXPECT_EQ(c.remoteFa, "publisher");
    EXPECT_EQ(c.maxOffers, 5);
    EXPECT_EQ(reader.filterLimit, 5);
    EXPECT_EQ(c.packageCount, 2);
}

TEST(LoadPackages, AnswersThatGiveNoOffersOrAnError) {
    const struct {
        const char* what;
        std::function<void(json&)> change;
        bool error;
        size_t offers;
    } cases[] = {
        {"empty title", [](json& a) { a["i"]["ct"] = ""; }, true, 0},
        {"empty download address", [](json& a) { a["i"]["cu"] = ""; }, true, 0},
        {"offers switched off", [](json& a) { a["i"]["ch"] = "00xA"; }, false, 0},
        {"\"00xA\" is compared exactly", [](json& a) { a["i"]["ch"] = "00xa"; }, false, 2},
        {"no offers", [](json& a) { a.erase("o"); }, false, 0},
        {"no offers, no flow", [](json& a) { a.erase("o"); a.erase("f"); }, false, 0},
        {"an exclusive offer ends the list", [](json& a) { a["o"][0]["ps"]["exc"] = true; }, false, 1},
        {"a limit of 1", [](json& a) { a["f"]["m"] = 1; }, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reader reader;
        json answer = Answer();
        c.change(answer);
        const LoadOutcome outcome = reader.Read(answer);
        EXPECT_EQ(outcome.configurationError, c.error);
        EXPECT_EQ(outcome.offers.size(), c.offers);
        if (c.error) {
            EXPECT_TRUE(reader.config.productTitle.empty()) << "nothing stored from a refused block";
        }
    }
}

TEST(LoadPackages, MalformedAnswersLeaveTheTask) {
    const struct {
        const char* what;
        std::function<void(json&)> change;
    } cases[] = {
        {"no product block", [](json& a) { a.erase("i"); }},
        {"product block not an object", [](json& a) { a["i"] = "product"; }},
        {"title not a string", [](json& a) { a["i"]["ct"] = 7; }},
        {"no title", [](json& a) { a["i"].erase("ct"); }},
        {"logo address not a string", [](json& a) { a["i"]["cl"] = json::array(); }},
        {"product digest not a string", [](json& a) { a["i"]["sha256"] = 1; }},
        {"product digest not 64 hex digits", [](json& a) { a["i"]["sha256"] = "abc"; }},
        {"offers without a limit", [](json& a) { a["f"].erase("m"); }},
        {"limit not a number", [](json& a) { a["f"]["m"] = "5"; }},
        {"offers not an array", [](json& a) { a["o"] = json::object(); }},
        {"an offer rule of the wrong type", [](json& a) { a["o"][1]["ps"]["disk"] = "lots"; }},
        {"not an object at all", [](json& a) { a = json::array({1, 2}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reader reader;
        json answer = Answer();
        c.change(answer);
        EXPECT_THROW(reader.Read(answer), std::exception);
    }
}

TEST(LoadPackages, TheInstallerReadsNoProductBlock) {
    Reader reader;
    ConfigurationManager isv("ISV", nullptr);
    json answer = Answer();
    answer.erase("i");
    LoadFactories make;
    make.filter = [](int32_t maxOffers) {
        return std::make_unique<OfferFilter>(maxOffers, std::make_shared<FactTable>(), GetConfiguration());
    };
    make.package = [&reader](const json& element, int32_t position) {
        return reader.factory.Make(element.at("ad").at("o").get<std::string>(), element.at("ps"), position);
    };
    const LoadOutcome outcome = ReadConfigurationAnswer(answer, isv, make);
    EXPECT_EQ(outcome.offers.size(), 2u);
    EXPECT_EQ(isv.productTitle, L"Harlix");
    ::RemoveDirectoryW(isv.tempFolder.c_str());
}

}  // namespace
