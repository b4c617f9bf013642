// The real wizard against the real service, driven from another process the
// way a user drives it: buttons clicked through window messages, and the
// outcome read back from what the service stored.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "StoredEvents.h"
#include "WizardRun.h"
#include "common/DemoMarkers.h"
#include "resources/resource.h"

namespace {

using namespace wizardrun;

// The main package reports its start before the product is known (its offer
// id is still empty) and later events under the product's title.
const char* const kMainAtStart = "";
const char* const kProductTitle = "Tamsel Demo App";

struct FlowScenario {
    const char* tag;
    std::vector<int> buttons;  // on the product pages, in order
    // Per offer id: the codes stored (3 for an accepted offer whose installer
    // was started), and the reason of a code 2.
    std::vector<std::pair<std::string, std::vector<int>>> codes;
    std::vector<std::pair<std::string, std::string>> reasons;
};

TEST(WizardRun, OffersAnsweredOnTheProductPagesAreReportedAsTheFlowDecides) {
    const FlowScenario scenarios[] = {
        {"t3-acpt", {IDC_ACCEPT, IDC_ACCEPT, IDC_ACCEPT},
         {{"t3-acpt-1", {3}}, {"t3-acpt-2", {3}}, {"t3-acpt-3", {3}}}, {}},
        {"t3-saad", {IDC_DECLINE},
         {{"t3-saad-1", {4}}, {"t3-saad-2", {2}}, {"t3-saad-3", {2}}},
         {{"t3-saad-2", "SKIP ALL AFTER DECLINE OFFER DECLINED"}, {"t3-saad-3", "SKIP ALL AFTER DECLINE OFFER DECLINED"}}},
        {"t3-skip", {IDC_SKIP_ALL},
         {{"t3-skip-1", {4}}, {"t3-skip-2", {2}}, {"t3-skip-3", {2}}},
         {{"t3-skip-2", "SKIP ALL CLICKED"}, {"t3-skip-3", "SKIP ALL CLICKED"}}},
        {"t3-sied", {IDC_DECLINE, IDC_ACCEPT},
         {{"t3-sied-1", {4}}, {"t3-sied-2", {2}}, {"t3-sied-3", {3}}},
         {{"t3-sied-2", "SKIPPED BECAUSE OF EARLIER DECLINE"}}},
        {"t4-mo02", {IDC_ACCEPT, IDC_ACCEPT},
         {{"t4-mo02-1", {3}}, {"t4-mo02-2", {3}}, {"t4-mo02-3", {2}}, {"t4-mo02-4", {2}}},
         {{"t4-mo02-3", "EXCEEDED MAX NUMBER OF OFFERS IN FLOW"}, {"t4-mo02-4", "EXCEEDED MAX NUMBER OF OFFERS IN FLOW"}}},
    };
    for (const FlowScenario& s : scenarios) {
        SCOPED_TRACE(s.tag);
        WizardRun run(s.tag);
        ToWelcomePage(run);
        ASSERT_TRUE(run.Click(IDC_NEXT));
        for (int button : s.buttons) ASSERT_TRUE(run.Click(button)) << "button " << button;
        EXPECT_FALSE(run.Shows(IDC_ACCEPT)) << "a product page is left over";
        ToTheEnd(run);

        for (const auto& [offer, codes] : s.codes) {
            const auto events = AwaitEvents(offer, run.Since(), codes.size());
            EXPECT_EQ(Codes(events), codes) << offer;
        }
        for (const auto& [offer, reason] : s.reasons) {
            const auto events = StoredEvents(offer, run.Since());
            ASSERT_FALSE(events.empty()) << offer;
            EXPECT_EQ(events.front().reason, reason) << offer;
        }
        // The main product reported its start once, then its download under
        // its title.
        EXPECT_EQ(Codes(AwaitEvents(kMainAtStart, run.Since(), 1)), std::vector<int>{1});
        EXPECT_EQ(Codes(AwaitEvents(kProductTitle, run.Since(), 1)), std::vector<int>{3});
    }
}

TEST(WizardRun, ProductSwitchOffAndNoOffersGoStraightToTheDownloadPage) {
    for (const char* tag : {"tc-00xa", "t0-none"}) {
        SCOPED_TRACE(tag);
        WizardRun run(tag);
        ToWelcomePage(run);
        ASSERT_TRUE(run.Click(IDC_NEXT));
        EXPECT_FALSE(run.Shows(IDC_ACCEPT));
        ToTheEnd(run);
    }
}

struct DownloadScenario {
    const char* tag;
    int offersAccepted;
    // Per offer id: the codes stored and the failure text's start ("" for none).
    std::vector<std::tuple<std::string, std::vector<int>, std::string>> offers;
    // The installers that must have run, with a piece of their command line.
    std::vector<std::pair<const char*, std::string>> installed;
    bool productFails;
};

TEST(WizardRun, TheProductAndTheAcceptedOffersAreDownloadedAndTheOffersInstalled) {
    const DownloadScenario scenarios[] = {
        {"t0-none", 0, {}, {}, false},
        {"t2-fail", 2,
         {{"t2-fail-1", {3}, ""}, {"t2-fail-2", {-1}, "DOWNLOAD FAILED: "}},
         {{"notes", "/quiet /from=t2-fail"}}, false},
        {"tm-fail", 1, {{"tm-fail-1", {3}, ""}}, {{"clean", "/quiet /from=tm-fail"}}, true},
        // Under Wine the Shell cannot open a ZIP: the archive itself is then
        // started, which fails unnoticed, as any offer installer may.
        {"tz-zip1", 1, {{"tz-zip1-1", {3}, ""}}, {}, false},
    };
    const std::wstring product = DownloadsFolder() + L"\\TamselDemoAppSetup.exe";
    for (const DownloadScenario& s : scenarios) {
        SCOPED_TRACE(s.tag);
        ::DeleteFileW(product.c_str());
        demomarkers::Remove("app");
        for (const auto& [name, _] : s.installed) demomarkers::Remove(name);

        WizardRun run(s.tag);
        ToWelcomePage(run);
        ASSERT_TRUE(run.Click(IDC_NEXT));
        for (int i = 0; i < s.offersAccepted; ++i) ASSERT_TRUE(run.Click(IDC_ACCEPT));

        if (s.productFails) {
            HWND title = run.Control(IDC_ERROR_TITLE, 180);
            ASSERT_NE(title, nullptr) << "no error page";
            EXPECT_EQ(wizardwindows::Text(title), L"Error in downloading");
            EXPECT_EQ(wizardwindows::Text(run.Control(IDC_ERROR_TEXT)), L"Please try to download later");
            ASSERT_TRUE(run.Click(IDC_CLOSE));
            EXPECT_TRUE(run.Process().WaitForExit(30000));
            const auto main = AwaitEvents(kProductTitle, run.Since(), 1);
            ASSERT_EQ(Codes(main), std::vector<int>{3});
            EXPECT_EQ(main.front().failure.rfind("DOWNLOAD FAILED: ", 0), 0u) << main.front().failure;
            // Neither the product nor a part of it is left behind.
            EXPECT_TRUE(FilesStartingWith(DownloadsFolder(), L"TamselDemoAppSetup").empty());
        } else {
            ASSERT_NE(run.Control(IDC_FINISH, 180), nullptr) << "no finish page";
            for (const auto& [name, arguments] : s.installed) {
                const std::string line = demomarkers::Await(name);
                EXPECT_NE(line.find(arguments), std::string::npos) << "command line: " << line;
            }
            // Finish with the launch choice opens the downloaded product.
            ToTheEnd(run);
            EXPECT_EQ(Codes(AwaitEvents(kProductTitle, run.Since(), 1)), std::vector<int>{3});
            EXPECT_NE(::GetFileAttributesW(product.c_str()), INVALID_FILE_ATTRIBUTES) << "no product file";
            EXPECT_FALSE(demomarkers::Await("app").empty()) << "the product was not opened";
        }
        for (const auto& [offer, codes, failure] : s.offers) {
            const auto events = AwaitEvents(offer, run.Since(), codes.size());
            EXPECT_EQ(Codes(events), codes) << offer;
            if (!failure.empty() && !events.empty()) {
                EXPECT_EQ(events.front().failure.rfind(failure, 0), 0u) << events.front().failure;
            }
        }
        for (const auto& [name, arguments] : s.installed) {
            const std::string line = demomarkers::Await(name);
            EXPECT_NE(line.find(arguments), std::string::npos) << "command line: " << line;
        }
    }
}

TEST(WizardRun, ClosingAsksFirstAndQuittingReportsEveryShownOffer) {
    WizardRun run("t3-acpt");
    ASSERT_TRUE(run.Started());
    // On the language page: the question, and Cancel keeps the wizard.
    EXPECT_EQ(run.CloseAnswering(false), L"Are you sure you want to exit the installer?");
    ::Sleep(300);
    EXPECT_TRUE(::IsWindowVisible(run.Wizard()));

    const std::string since = run.Since();
    ToWelcomePage(run);
    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_TRUE(run.Click(IDC_ACCEPT));      // offer 1 accepted, offer 2 now shown
    ASSERT_NE(run.Control(IDC_ACCEPT), nullptr);
    EXPECT_FALSE(run.CloseAnswering(true).empty());
    DWORD exitCode = 99;
    ASSERT_TRUE(run.Process().WaitForExit(60000, &exitCode));
    // The wizard waited for its quit events before it ended.
    EXPECT_EQ(Codes(StoredEvents("t3-acpt-1", since)), std::vector<int>{5});
    EXPECT_EQ(Codes(StoredEvents("t3-acpt-2", since)), std::vector<int>{5});
    EXPECT_TRUE(StoredEvents("t3-acpt-3", since).empty()) << "never shown";
    EXPECT_EQ(Codes(StoredEvents(kMainAtStart, since)), std::vector<int>{1});
    EXPECT_EQ(Codes(StoredEvents(kProductTitle, since)), std::vector<int>{5});
}

TEST(WizardRun, ClosingWhileLoadingEndsCleanly) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        SCOPED_TRACE(attempt);
        WizardRun run("t4-mo02");
        ASSERT_TRUE(run.Started());
        ASSERT_NE(run.Control(IDC_NEXT), nullptr);
        wizardwindows::Click(run.Control(IDC_NEXT));
        // Somewhere in the loading sequence: the request, the filter or the images.
        ::Sleep(static_cast<DWORD>(attempt * 60));
        EXPECT_FALSE(run.CloseAnswering(true).empty());
        DWORD exitCode = 99;
        ASSERT_TRUE(run.Process().WaitForExit(60000, &exitCode));
        EXPECT_EQ(exitCode, 0u) << "the wizard did not end normally";
    }
}

// A language chosen on the first page reaches the later pages, the question
// on closing and the service, which answers with the product's German title.
TEST(WizardRun, TheChosenLanguageReachesEveryPageAndTheService) {
    WizardRun run("t3-acpt");
    ASSERT_TRUE(run.Started());
    HWND combo = run.Control(IDC_LANGUAGE_COMBO);
    ASSERT_NE(combo, nullptr);
    LRESULT german = CB_ERR;
    const LRESULT count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && german == CB_ERR; ++i) {
        wchar_t item[128] = {};
        if (::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 128)
            ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        if (std::wstring(item) == L"Deutsch") german = i;
    }
    ASSERT_NE(german, CB_ERR) << "no German in the list";
    // What the list tells its page when the user picks an entry.
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(german), 0);
    ::SendMessageW(::GetParent(combo), WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_COMBO, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(wizardwindows::Text(run.Control(IDC_NEXT)), L"Weiter");

    ASSERT_TRUE(run.Click(IDC_NEXT));
    ASSERT_NE(run.Control(IDC_WELCOME_TITLE), nullptr) << "no welcome page";
    EXPECT_EQ(wizardwindows::Text(run.Control(IDC_WELCOME_TITLE)), L"Willkommen bei");
    EXPECT_EQ(wizardwindows::Text(run.Control(IDC_PRODUCT_TITLE)), L"Tamsel Demo-App");
    EXPECT_EQ(run.CloseAnswering(true), L"M\u00f6chten Sie das Installationsprogramm wirklich beenden?");
    EXPECT_TRUE(run.Process().WaitForExit(60000));
}

}  // namespace
