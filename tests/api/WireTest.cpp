// What the wizard's requests look like on the wire, as the test peer saw them
// (every header in the order received), and how the transport reads an
// answer whose body comes in chunks.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "api/ApiManager.h"
#include "api/Package.h"
#include "api/Transport.h"
#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"

using nlohmann::json;

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

std::wstring Peer() {
    const std::string peer = testenv::Get("TAMSEL_TEST_PEER");
    return std::wstring(peer.begin(), peer.end());
}

// The headers of the request the peer recorded for path whose body holds
// marker; fails when there is not exactly one.
Headers RecordedHeaders(const std::string& path, const std::string& marker) {
    std::string response;
    int32_t status = 0;
    if (!PostJsonToHost(Peer(), L"/log", "{}", {}, response, status) || status != 200) {
        ADD_FAILURE() << "the peer's log answered " << status;
        return {};
    }
    std::vector<json> found;
    for (const json& record : json::parse(response)) {
        if (record.value("path", "") == path && record.value("body", "").find(marker) != std::string::npos)
            found.push_back(record);
    }
    if (found.size() != 1) {
        ADD_FAILURE() << found.size() << " requests to " << path << " with " << marker;
        return {};
    }
    Headers headers;
    for (const json& header : found.front().at("headers")) headers.emplace_back(header.at(0), header.at(1));
    return headers;
}

// The headers WinHTTP writes on its own for every request, whatever the caller
// adds; the rest are the transport's.
Headers Added(const Headers& all) {
    Headers added;
    for (const auto& header : all) {
        if (header.first != "Host" && header.first != "Content-Length" && header.first != "Connection")
            added.push_back(header);
    }
    return added;
}

std::string Names(const Headers& headers) {
    std::string names;
    for (const auto& header : headers) names += header.first + ": " + header.second + "\n";
    return names;
}

std::string Unique(const std::string& what) {
    return what + "-" + testenv::Config() + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(::GetTickCount());
}

class OnTheWire : public testing::Test {
protected:
    void SetUp() override {
        if (Peer().empty()) GTEST_SKIP() << "run through run-with-peer.sh";
    }
};

// An event carries the package's signature, then the transport's Expect and
// Content-Type, in that order, each once.
TEST_F(OnTheWire, AnEventPostCarriesTheSignatureThenTheTransportsHeaders) {
    const auto config = GetConfiguration();
    PackageEnvironment env = EnvironmentFromConfiguration(config);
    env.eventEndpointUrl = L"https://" + Peer() + L"/zbd";
    const std::string reason = Unique("WIRE");
    auto offer = Package::CreateOffer(
        BuildSignedRequest(*config),
        json{{"ad", {{"o", "wire"}, {"f", "feed"}}},
             {"ps", {{"i", "images/wire.png"}, {"dn", "Wire"}, {"u", "https://localhost/f/wire.exe"}}}},
        "", 0, std::move(env));
    offer->SendEvent(2, json{{"13", reason}});
    offer->WaitForEvents();
    ASSERT_TRUE(offer->EventsClosed()) << "the peer did not take the event";

    const Headers added = Added(RecordedHeaders("/zbd", reason));
    ASSERT_EQ(added.size(), 3u) << Names(added);
    EXPECT_EQ(added[0].first, "Authorization");
    EXPECT_TRUE(std::regex_match(added[0].second, std::regex("Signature=[0-9a-f]{64}"))) << added[0].second;
    EXPECT_EQ(added[1], (std::pair<std::string, std::string>{"Expect", "100-continue"}));
    EXPECT_EQ(added[2], (std::pair<std::string, std::string>{"Content-Type", "application/json"}));
}

// The configuration request is not signed: only the transport's headers.
TEST_F(OnTheWire, TheConfigurationRequestCarriesOnlyTheTransportsHeaders) {
    ConfigurationRequestFacts facts;
    facts.fileVersion = L"3.2.2.1212";
    facts.languageCode = L"en";
    facts.brand = L"Harlix";
    facts.appId = L"Harlix_DLM";
    const std::string stub = Unique("stub");
    facts.stubId = std::wstring(stub.begin(), stub.end());
    facts.downloadTag = "ct-0000";  // a tag the peer answers with a configuration
    facts.windowsVersion = "10.0.19045";
    const json answer =
        ApiManager().RequestConfiguration(L"https://" + Peer() + L"/o", BuildConfigurationRequest(facts));
    ASSERT_TRUE(answer.is_object()) << answer.dump();

    const Headers added = Added(RecordedHeaders("/o", stub));
    EXPECT_EQ(added, (Headers{{"Expect", "100-continue"}, {"Content-Type", "application/json"}})) << Names(added);
}

// An answer ends at its first NUL byte, whichever chunk holds it: the bytes
// after it, in that chunk or in later ones, are not part of the text.
TEST_F(OnTheWire, AnAnswerEndsAtItsFirstNul) {
    const struct {
        std::vector<std::string> chunks;
        std::string text;
    } cases[] = {
        {{"{\"a\":1}"}, "{\"a\":1}"},
        {{"{\"a\":", "1}"}, "{\"a\":1}"},
        {{std::string("ab\0cd", 5)}, "ab"},
        {{std::string("ab\0cd", 5), "ef"}, "ab"},
        {{"ab", std::string("cd\0", 3), "ef"}, "abcd"},
        {{"ab", std::string("\0cd", 3), "ef"}, "ab"},
        {{std::string("\0ab", 3), "cd"}, ""},
    };
    for (const auto& c : cases) {
        std::string response;
        int32_t status = 0;
        ASSERT_TRUE(PostJsonToHost(Peer(), L"/chunked", json(c.chunks).dump(), {}, response, status));
        EXPECT_EQ(status, 200);
        EXPECT_EQ(response, c.text) << json(c.chunks).dump();
    }
}

}  // namespace
