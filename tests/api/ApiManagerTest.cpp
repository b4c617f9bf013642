// The configuration request: the download tag, the request object, the
// retry loop driven through a recording poster and sleeper, and real
// exchanges with the service and the test peer over HTTPS.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "api/ApiManager.h"
#include "api/SignedRequest.h"
#include "api/Transport.h"
#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"
#include "util/TamselException.h"
#include "util/Text.h"

using nlohmann::json;

namespace {

TEST(DownloadTag, TakenFromTheFileName) {
    const struct {
        const wchar_t* path;
        std::string tag;
    } cases[] = {
        {L"C:\\users\\me\\Downloads\\setup_ab-1234.exe", "ab-1234"},
        {L"setup_ab-1234.exe", "ab-1234"},
        {L"C:\\d\\setup_abcdefg.exe", ""},      // no hyphen
        {L"C:\\d\\setup_ab-1234x.exe", ""},     // 8 characters
        {L"C:\\d\\setup_ab-123.exe", ""},       // 6 characters
        {L"C:\\d\\setup.exe", ""},              // no underscore
        {L"C:\\d\\setup_ab-1234", "ab-1234"},   // no dot: the whole rest
        {L"C:\\d\\setup_ab-12345", ""},
        {L"C:\\d\\my_setup_ab-1234.exe", "ab-1234"},  // the last underscore counts
        {L"C:\\d\\setup_ab_cd-1234.exe", "cd-1234"},
        {L"C:\\d\\setup_ab-1234_x.exe", ""},
        {L"C:\\d\\setup_ab-1234.exe_", ""},
        {L"C:\\d\\setup_a.b-123.exe", "a.b-123"},     // the last dot counts
        {L"C:\\d\\setup_ab-1234.v2.exe", ""},
        {L"C:\\d\\setup_ab-1234..exe", ""},
        {L"C:\\d\\setup_.exe", ""},
        {L"C:\\d\\setup_-------.exe", "-------"},
        {L"C:\\d\\setup_AB-1234.EXE", "AB-1234"},
        {L"C:/d/setup_ab-1234.exe", "ab-1234"},
        // Underscores and dots of the folders are not the file's.
        {L"C:\\tag_ab-1234\\setup.exe", ""},
        {L"C:\\x_a\\b-cde.exe", ""},
        {L"C:\\a.b_c\\setup_ab-1234", "ab-1234"},
        {L"", ""},
    };
    for (const auto& c : cases) {
        const std::wstring path = c.path;
        EXPECT_EQ(DownloadTagFromPath(c.path), c.tag) << WideToUtf8(path);
    }
    // Narrow text in the ANSI code page.
    EXPECT_EQ(DownloadTagFromPath(L"C:\\d\\setup_\u00e9b-1234.exe"), WideToAnsi(L"\u00e9b-1234", CP_ACP));
    // This program's own name, api_tests.exe, has "tests" after its underscore.
    EXPECT_EQ(OwnDownloadTag(), "");
}

ConfigurationRequestFacts Facts() {
    ConfigurationRequestFacts facts;
    facts.fileVersion = L"3.2.2.1212";
    facts.languageCode = L"DE-de";
    facts.brand = L"Harlix";
    facts.appId = L"Harlix_DLM";
    facts.stubId = L"Harlix_3cpp";
    facts.downloadTag = "ab-1234";
    facts.windowsVersion = "10.0.19045";
    return facts;
}

TEST(ConfigurationRequest, SerialisedCompactlyInKeyOrder) {
    EXPECT_EQ(BuildConfigurationRequest(Facts()).dump(),
              R"({"a":"Harlix","i":"Harlix_DLM","l":"de","o":"10.0.19045","plv":"3.2.2.1212","prv":"0.1",)"
              R"("s":"Harlix_3cpp","u":"ab-1234"})");
    EXPECT_EQ(BuildConfigurationRequest(ConfigurationRequestFacts{}).dump(),
              R"({"a":"","i":"","l":"","o":"","plv":"","prv":"0.1","s":"","u":""})");

    const struct {
        const wchar_t* code;
        const char* l;
    } languages[] = {{L"en", "en"}, {L"pt-BR", "pt"}, {L"ZH", "zh"}, {L"E", "e"}, {L"", ""}, {L"x1-y", "x1"}};
    for (const auto& c : languages) {
        ConfigurationRequestFacts facts = Facts();
        facts.languageCode = c.code;
        EXPECT_EQ(BuildConfigurationRequest(facts)["l"], c.l) << c.l;
    }

    ConfigurationRequestFacts accented = Facts();
    accented.brand = L"Caf\u00e9";
    EXPECT_EQ(BuildConfigurationRequest(accented)["a"], WideToAnsi(L"Caf\u00e9", CP_ACP));
}

// One answer of the recording poster.
struct Answer {
    int32_t status;
    std::string body;
    bool answered = true;
    bool throws = false;
};

// Drives RequestConfiguration with scripted answers, keeping what it posted
// and how long it slept.
struct Recorder {
    std::vector<Answer> answers;
    std::vector<std::wstring> urls;
    std::vector<std::string> bodies;
    std::vector<size_t> headerCounts;
    std::vector<uint32_t> sleeps;

    ApiManager Manager() {
        return ApiManager(
            [this](const std::wstring& url, const std::string& body, std::vector<HttpHeader> headers,
                   std::string& response, int32_t& status) {
                const size_t call = urls.size();
                urls.push_back(url);
                bodies.push_back(body);
                headerCounts.push_back(headers.size());
                if (call >= answers.size()) throw std::logic_error("more attempts than answers");
                const Answer& answer = answers[call];
                if (answer.throws) throw std::length_error("poster failed");
                response.append(answer.body);  // as PostJson does
                status = answer.status;
                return answer.answered;
            },
            [this](uint32_t milliseconds) { sleeps.push_back(milliseconds); });
    }
};

// Failed: a TamselException; NotJson: the parser's error; PosterFailed: the poster's own exception.
enum class Outcome { Document, Failed, NotJson, PosterFailed };

TEST(RequestConfiguration, AttemptsPausesAndAnswers) {
    const std::string config = R"({"i":{"ct":"T","cu":"U"},"f":{"m":2}})";
    const Answer ok{200, config};
    const Answer refused{500, R"({"i":{"ct":"From an error page","cu":"U"}})"};
    const Answer silent{0, "", false};
    const Answer failing{0, "", true, true};
    const struct {
        const char* what;
        std::vector<Answer> answers;
        Outcome outcome;
        std::string document;  // the parsed answer, serialised
        size_t sleeps;         // of 5000 ms each
    } cases[] = {
        {"answered at once", {ok}, Outcome::Document, config, 0},
        {"399 succeeds", {{399, "[1]"}}, Outcome::Document, "[1]", 0},
        {"500, 500, 200", {refused, refused, ok}, Outcome::Document, config, 2},
        {"199 and 400 fail", {{199, "{}"}, {400, "{}"}, ok}, Outcome::Document, config, 2},
        {"no answer, then one", {silent, ok}, Outcome::Document, config, 1},
        // The body of an error status is never taken for the configuration.
        {"500 three times", {refused, refused, refused}, Outcome::Failed, "", 3},
        {"no answer three times", {silent, silent, silent}, Outcome::Failed, "", 3},
        {"poster throws", {failing}, Outcome::PosterFailed, "", 0},
        {"poster throws after a 500", {refused, failing}, Outcome::PosterFailed, "", 1},
        {"empty body", {{200, ""}}, Outcome::Failed, "", 0},
        {"whitespace only", {{200, " \t\r\n\v\f \n"}}, Outcome::Failed, "", 0},
        {"whitespace only, 500 before", {refused, {200, "\r\n"}}, Outcome::Failed, "", 1},
        {"invalid JSON", {{200, "{\"i\":"}}, Outcome::NotJson, "", 0},
        {"an HTML page", {{200, "<html></html>"}}, Outcome::NotJson, "", 0},
        {"two documents", {{200, "{} {}"}}, Outcome::NotJson, "", 0},
        {"whitespace around the document", {{200, " \n" + config + "\r\n "}}, Outcome::Document, config, 0},
        {"a JSON null", {{200, "null"}}, Outcome::Document, "null", 0},
    };
    const json request = BuildConfigurationRequest(Facts());
    const std::wstring url = L"https://localhost/o?x=1";
    for (const auto& c : cases) {
        Recorder recorder;
        recorder.answers = c.answers;
        const ApiManager manager = recorder.Manager();
        json document;
        switch (c.outcome) {
            case Outcome::Document:
                document = manager.RequestConfiguration(url, request);
                EXPECT_EQ(document.dump(), json::parse(c.document).dump()) << c.what;
                break;
            case Outcome::Failed:
                EXPECT_THROW(manager.RequestConfiguration(url, request), TamselException) << c.what;
                break;
            case Outcome::NotJson:
                EXPECT_THROW(manager.RequestConfiguration(url, request), json::parse_error) << c.what;
                break;
            case Outcome::PosterFailed:
                EXPECT_THROW(manager.RequestConfiguration(url, request), std::length_error) << c.what;
                break;
        }
        EXPECT_EQ(recorder.sleeps, std::vector<uint32_t>(c.sleeps, 5000u)) << c.what;
        // Every attempt the answers script, no more: a throw is not retried.
        EXPECT_EQ(recorder.urls.size(), c.answers.size()) << c.what;
        for (size_t i = 0; i < recorder.urls.size(); ++i) {
            EXPECT_EQ(recorder.urls[i], url) << c.what;
            EXPECT_EQ(recorder.bodies[i], request.dump()) << c.what;
            EXPECT_EQ(recorder.headerCounts[i], 0u) << c.what << ": posted unsigned";
        }
    }
}

TEST(RequestConfiguration, NeedsAnEndpoint) {
    Recorder recorder;
    recorder.answers = {{200, "{}"}};
    EXPECT_THROW(recorder.Manager().RequestConfiguration(L"", BuildConfigurationRequest(Facts())), TamselException);
    EXPECT_TRUE(recorder.urls.empty());
    EXPECT_TRUE(recorder.sleeps.empty());
}

TEST(RequestConfiguration, TextsOutsideAsciiStillMakeAValidBody) {
    Recorder recorder;
    recorder.answers = {{200, "{}"}};
    ConfigurationRequestFacts facts = Facts();
    facts.brand = L"Caf\u00e9 \u65e5";
    recorder.Manager().RequestConfiguration(L"https://localhost/o", BuildConfigurationRequest(facts));
    ASSERT_EQ(recorder.bodies.size(), 1u);
    const json sent = json::parse(recorder.bodies[0]);
    EXPECT_EQ(sent["a"].get<std::string>().substr(0, 3), "Caf");
    EXPECT_EQ(sent["i"], "Harlix_DLM");
}

TEST(RequestConfiguration, OneManagerPerProcess) {
    const auto first = GetApiManager();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetApiManager(), first);
}

// The service that scripts/test.sh keeps on port 443.
TEST(RequestConfigurationOverHttps, TheServiceAnswersWithAConfiguration) {
    const auto config = GetConfiguration();
    ConfigurationRequestFacts facts;
    facts.fileVersion = config->fileVersion;
    facts.languageCode = L"en";
    facts.brand = config->brand;
    facts.appId = config->appId;
    facts.stubId = config->stubId;
    facts.downloadTag = OwnDownloadTag();
    facts.windowsVersion = WindowsVersionText();
    json document;
    try {
        document = GetApiManager()->RequestConfiguration(config->configEndpointUrl, BuildConfigurationRequest(facts));
    } catch (const std::exception& e) {
        FAIL() << e.what() << " (is the service running on port 443, and does the prefix trust its CA?)";
    }
    ASSERT_TRUE(document.is_object()) << document.dump();
    ASSERT_TRUE(document.contains("i")) << document.dump();
    ASSERT_TRUE(document.contains("f")) << document.dump();
    EXPECT_TRUE(document["i"].is_object());
    EXPECT_TRUE(document["f"].is_object());
}

// The test peer answers /size/N with exactly N bytes.
TEST(ResponseBound, AnswersLargerThan8MiBAreRefused) {
    const std::string peer = testenv::Get("TAMSEL_TEST_PEER");
    if (peer.empty()) GTEST_SKIP() << "run through run-with-peer.sh";
    const std::wstring host(peer.begin(), peer.end());
    ASSERT_EQ(kMaxResponseBytes, size_t{8} << 20);

    std::string response;
    int32_t status = 0;
    const std::wstring atLimit = L"/size/" + std::to_wstring(kMaxResponseBytes);
    ASSERT_TRUE(PostJsonToHost(host, atLimit, "{}", {}, response, status));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(response.size(), kMaxResponseBytes);

    response.clear();
    const std::wstring overLimit = L"/size/" + std::to_wstring(kMaxResponseBytes + 1);
    try {
        PostJsonToHost(host, overLimit, "{}", {}, response, status);
        ADD_FAILURE() << "an answer of 8 MiB and one byte was read";
    } catch (const TamselException& e) {
        EXPECT_NE(std::string(e.what()).find("larger than 8 MiB"), std::string::npos) << e.what();
    }
    EXPECT_LE(response.size(), kMaxResponseBytes);

    // A configuration answer of that size is a configuration error, not retried.
    std::vector<uint32_t> sleeps;
    const ApiManager manager(
        [](const std::wstring& url, const std::string& body, std::vector<HttpHeader> headers, std::string& answer,
           int32_t& code) { return PostJson(url, body, std::move(headers), answer, code); },
        [&sleeps](uint32_t milliseconds) { sleeps.push_back(milliseconds); });
    const std::wstring url = L"https://" + host + L"/size/" + std::to_wstring(3 * kMaxResponseBytes);
    EXPECT_THROW(manager.RequestConfiguration(url, BuildConfigurationRequest(Facts())), TamselException);
    EXPECT_TRUE(sleeps.empty());
    // Within the bound the answer is parsed as it came.
    const std::wstring small = L"https://" + host + L"/size/10";
    EXPECT_EQ(manager.RequestConfiguration(small, json::object()), "xxxxxxxx");
}

}  // namespace
