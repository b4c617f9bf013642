// The wizard against the misbehaving peer on 127.0.0.2 (a copy of the wizard
// compiled to talk to it): configuration answers it cannot use, each ending on
// the configuration error page, and a product download slow enough to quit
// half-way.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "WizardRun.h"
#include "api/Transport.h"
#include "common/TestEnvironment.h"

using nlohmann::json;

namespace {

using namespace wizardrun;

// What the peer recorded, oldest first.
json PeerLog() {
    std::string response;
    int32_t status = 0;
    const std::string peer = testenv::Get("TAMSEL_TEST_PEER");
    if (!PostJsonToHost(std::wstring(peer.begin(), peer.end()), L"/log", "{}", {}, response, status) || status != 200) {
        ADD_FAILURE() << "the peer's log answered " << status;
        return json::array();
    }
    return json::parse(response);
}

// Seconds (the peer's clock) of the configuration requests made with a tag.
std::vector<double> ConfigurationAttempts(const std::string& tag) {
    std::vector<double> seconds;
    for (const json& request : PeerLog()) {
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

// Records of the peer for a path, from the first one after `after` entries.
std::vector<json> Records(const json& log, const std::string& path, size_t after = 0) {
    std::vector<json> found;
    for (size_t i = after; i < log.size(); ++i)
        if (log[i].value("path", "") == path) found.push_back(log[i]);
    return found;
}

int EventCode(const json& record) {
    const json body = json::parse(record.value("body", "{}"), nullptr, false);
    if (!body.is_object() || !body.contains("data")) return 0;
    const json data = json::parse(body.at("data").get<std::string>(), nullptr, false);
    return data.is_object() ? std::stoi(data.value("6", "0")) : 0;
}

TEST(WizardErrors, TheBarFollowsALargeDownloadAndQuittingStopsItLeavingNothingBehind) {
    if (testenv::Get("TAMSEL_TEST_PEER").empty()) GTEST_SKIP() << "needs the event peer (run-with-peer.sh)";
    const std::wstring downloads = DownloadsFolder();
    ASSERT_FALSE(downloads.empty());
    for (const std::wstring& name : FilesStartingWith(downloads, L"SlowProduct"))
        ::DeleteFileW((downloads + L"\\" + name).c_str());
    const size_t before = PeerLog().size();

    WizardRun run("dq-slow");
    ToWelcomePage(run);
    ASSERT_TRUE(run.Click(IDC_NEXT));
    HWND bar = run.Control(IDC_PROGRESS);
    ASSERT_NE(bar, nullptr) << "no download page";
    // The bar moves on with the product, never back.
    std::vector<LRESULT> positions;
    for (int i = 0; i < 60 && positions.size() < 3; ++i, ::Sleep(50)) {
        const LRESULT position = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
        if (position > 0 && (positions.empty() || position != positions.back())) positions.push_back(position);
    }
    ASSERT_GE(positions.size(), 2u) << "the bar did not move";
    for (size_t i = 1; i < positions.size(); ++i) EXPECT_GT(positions[i], positions[i - 1]);
    EXPECT_LT(positions.back(), 100) << "the download was to be quit half-way";
    ASSERT_FALSE(FilesStartingWith(downloads, L"SlowProduct").empty()) << "the download has not begun";

    EXPECT_EQ(run.CloseAnswering(true), L"Are you sure you want to exit the installer?");
    const DWORD closed = ::GetTickCount();
    DWORD exitCode = 99;
    ASSERT_TRUE(run.Process().WaitForExit(60000, &exitCode));
    std::printf("[ quit      ] the wizard ended %lu ms after the question was answered\n",
                static_cast<unsigned long>(::GetTickCount() - closed));

    // Neither the product under its name nor a part of it is left.
    EXPECT_EQ(FilesStartingWith(downloads, L"SlowProduct"), std::vector<std::wstring>{});
    // The transfer was broken off, not finished.
    json log;
    std::vector<json> transfers;
    for (int i = 0; i < 100 && transfers.empty(); ++i, ::Sleep(100)) {
        log = PeerLog();
        transfers = Records(log, "/slow/30000000", before);
    }
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_LT(transfers.front().at("sent").get<int64_t>(), 30000000);
    // The product reported its start, then the quit.
    std::vector<int> codes;
    for (const json& event : Records(log, "/zbd", before)) codes.push_back(EventCode(event));
    EXPECT_EQ(codes, (std::vector<int>{1, 5}));
}

}  // namespace
