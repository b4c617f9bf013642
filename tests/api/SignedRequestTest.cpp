#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <set>

#include "api/SignedRequest.h"
#include "api/Transport.h"
#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"
#include "util/Digest.h"
#include "util/TamselException.h"

TEST(SignedRequest, BodyKeysAndSignature) {
    const auto config = GetConfiguration();
    const SignedRequest request = BuildSignedRequest(*GetConfiguration());

    std::set<std::string> keys;
    for (const auto& item : request.body.items()) keys.insert(item.key());
    std::set<std::string> expected{"31", "38"};
    for (int i = 0; i <= 22; ++i) expected.insert(std::to_string(i));
    EXPECT_EQ(keys, expected);

    for (const auto& item : request.body.items()) {
        if (item.key() == "15") continue;
        EXPECT_TRUE(item.value().is_string()) << item.key();
    }
    EXPECT_EQ(request.body["15"], 0);
    EXPECT_EQ(request.body["1"], config->GetMachineGuid());
    EXPECT_EQ(request.body["2"], config->GetTimestamp());
    EXPECT_EQ(request.body["3"], "Harlix");
    EXPECT_EQ(request.body["4"], "Harlix_DLM");
    EXPECT_EQ(request.body["7"], "3.2.2.1212");
    // Before the remote configuration arrives the product keys are empty.
    for (const char* key : {"19", "21", "22", "0", "5", "6", "8", "12", "13", "20"})
        EXPECT_EQ(request.body[key], "") << key;
    EXPECT_EQ(request.body["38"], testenv::Config() == "wow64" ? "1" : "0");
    const std::string version = request.body["31"];
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;

    ASSERT_EQ(request.headers.size(), 1u);
    EXPECT_EQ(request.headers[0].first, L"Authorization");
    EXPECT_EQ(request.headers[0].second,
              SignatureHeaderValue(config->GetMachineGuid(), config->GetTimestamp()));
    // Without a machine identifier the digest covers the timestamp alone.
    const std::string hex = Sha256Hex("20261209235959");
    EXPECT_EQ(SignatureHeaderValue("", "20261209235959"), L"Signature=" + std::wstring(hex.begin(), hex.end()));

    config->productTitle = L"Notes";
    EXPECT_EQ(BuildSignedRequest(*GetConfiguration()).body["22"], "Notes");
    config->productTitle.clear();
}

TEST(PostJson, ConfigurationRequestReachesTheService) {
    std::string response;
    int32_t status = 0;
    ASSERT_TRUE(PostJson(L"https://localhost/o", R"({"l":"en"})", {}, response, status));
    EXPECT_EQ(status, 200);
    const auto document = nlohmann::json::parse(response, nullptr, false);
    ASSERT_TRUE(document.is_object()) << response;
    EXPECT_TRUE(document.contains("o"));
}

TEST(PostJson, SignedEventIsTakenOnPort443WhateverTheUrlSays) {
    SignedRequest request = BuildSignedRequest(*GetConfiguration());
    request.body["6"] = "1";
    request.body["10"] = 1;  // as the event machinery fills it
    const nlohmann::json document{{"data", request.body.dump()}, {"table", "zb_analytics"}};
    std::string response;
    int32_t status = 0;
    // Port and query of the URL are not used: the post goes to /zbd on 443.
    ASSERT_TRUE(PostJson(L"https://localhost:8443/zbd?x=1", document.dump(), request.headers, response, status));
    EXPECT_EQ(status, 200) << response;

    // The same document without its signature is refused, and the status is
    // handed back rather than judged here.
    response.clear();
    ASSERT_TRUE(PostJson(L"https://localhost/zbd", document.dump(), {}, response, status));
    EXPECT_EQ(status, 401);
    EXPECT_FALSE(response.empty());
}

// A Windows failure names its code and the system's text for it.
TEST(PostJson, FailureCarriesTheSystemsCode) {
    std::string response;
    int32_t status = 0;
    DWORD code = 0;
    // Nothing listens on this loopback address.
    EXPECT_FALSE(PostJsonToHost(L"127.0.0.9", L"/o", "{}", {}, response, status, &code));
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
    try {
        PostJson(L"https://127.0.0.9/o", "{}", {}, response, status);
        ADD_FAILURE() << "no exception";
    } catch (const TamselException& e) {
        const std::string text = e.what();
        const std::string expected = "Failed to post the request: " + std::to_string(ERROR_WINHTTP_CANNOT_CONNECT) + " - ";
        EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
        EXPECT_GT(text.size(), expected.size()) << "the system's text is missing";
    }
}

TEST(PostJson, UrlsThatDoNotSplitThrow) {
    std::string response;
    int32_t status = 0;
    EXPECT_THROW(PostJson(L"not a url", "{}", {}, response, status), TamselException);
    EXPECT_THROW(PostJson(L"", "{}", {}, response, status), TamselException);
}
