// Configuration answers the wizard cannot use, from the misbehaving peer on
// 127.0.0.2 (a copy of the wizard compiled to talk to it): each ends on the
// configuration error page, which closes the wizard without a question.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "WizardRun.h"
#include "api/Transport.h"
#include "common/TestEnvironment.h"

using nlohmann::json;

namespace {

using namespace wizardrun;

// Seconds (the peer's clock) of the configuration requests made with a tag.
std::vector<double> ConfigurationAttempts(const std::string& tag) {
    std::string response;
    int32_t status = 0;
    const std::string peer = testenv::Get("TAMSEL_TEST_PEER");
    std::vector<double> seconds;
    if (!PostJsonToHost(std::wstring(peer.begin(), peer.end()), L"/log", "{}", {}, response, status) || status != 200) {
        ADD_FAILURE() << "the peer's log answered " << status;
        return seconds;
    }
    for (const json& request : json::parse(response)) {
        if (request.value("path", "") != "/o") continue;
        const json body = json::parse(request.value("body", "{}"), nullptr, false);
        if (body.is_object() && body.value("u", "") == tag) seconds.push_back(request.at("seconds").get<double>());
    }
    return seconds;
}

TEST(WizardErrors, AnswersThatCannotBeUsedShowTheConfigurationError) {
    if (testenv::Get("TAMSEL_TEST_PEER").empty()) GTEST_SKIP() << "needs the event peer (run-with-peer.sh)";
    const struct {
        const char* tag;
        const char* what;
        size_t attempts;
    } cases[] = {
        {"ct-0000", "an empty product title", 1},
        {"ws-0000", "an answer of only whitespace", 1},
        {"js-0000", "an answer that is not JSON", 1},
        {"e5-0500", "status 500, three times", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WizardRun run(c.tag);
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.Click(IDC_NEXT));
        HWND title = run.Control(IDC_ERROR_TITLE, 90);
        ASSERT_NE(title, nullptr) << "no error page";
        EXPECT_EQ(wizardwindows::Text(title), L"Something went wrong");
        EXPECT_EQ(wizardwindows::Text(run.Control(IDC_ERROR_TEXT)), L"Please try to download later");
        EXPECT_FALSE(run.Shows(IDC_WELCOME_TITLE));

        const std::vector<double> attempts = ConfigurationAttempts(c.tag);
        ASSERT_EQ(attempts.size(), c.attempts);
        // The wizard pauses 5 s after each failed attempt.
        for (size_t i = 1; i < attempts.size(); ++i) EXPECT_GE(attempts[i] - attempts[i - 1], 4.9);

        ASSERT_TRUE(run.Click(IDC_CLOSE));
        EXPECT_TRUE(run.Process().WaitForExit(30000));
    }
}

}  // namespace
