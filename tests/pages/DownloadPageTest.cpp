// The download pages against the real service: real downloads from its file
// endpoint, real installers (the demo's, which record each run with its
// command line), events recorded per package.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "PageTestHost.h"
#include "common/DemoMarkers.h"
#include "api/Package.h"
#include "common/RecordingEnvironment.h"
#include "download/DownloadManager.h"
#include "pages/DownloadPageDlm.h"
#include "pages/DownloadPageIsv.h"
#include "pages/DownloadPlan.h"
#include "pages/LanguagePage.h"
#include "util/Digest.h"

using nlohmann::json;

namespace {

TEST(DownloadPlan, ForcedInstallDigitsFollowTheClassicBoxes) {
    using Options = std::array<bool, 3>;
    using Configurations = std::array<bool, 5>;
    const struct {
        Options options;
        Configurations configurations;
        const wchar_t* digits;
    } cases[] = {
        {{}, {}, L"0000000101000000"},
        // Box 3 of the configurations counts twice, at the front and at 12.
        {{}, {true, false, true, false, false}, L"1010000101010000"},
        {{}, {false, true, false, false, false}, L"0000010101000000"},
        {{}, {false, false, false, true, false}, L"0100000101000000"},
        {{}, {false, false, false, false, true}, L"0000000101100000"},
        {{true, false, false}, {}, L"0000000101000010"},
        {{false, true, false}, {}, L"0000000101001000"},
        {{false, false, true}, {}, L"0000000101000100"},
        {{true, true, true}, {true, true, true, true, true}, L"1110010101111110"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ForcedInstallArguments(c.options, c.configurations), std::wstring(L"/S /FORCEINSTALL ") + c.digits);
}

TEST(DownloadPlan, AddressesThatAreNotFullAreFetchedFromTheFileEndpoint) {
    const std::wstring endpoint = L"https://files.example.test/f/";
    const struct {
        const wchar_t* address;
        const wchar_t* fetched;
    } cases[] = {
        {L"installers/notes-setup.exe", L"https://files.example.test/f/installers/notes-setup.exe"},
        {L"https://cdn.example.test/x.exe", L"https://cdn.example.test/x.exe"},
        // The address pattern takes a bare name with a dot for a host name.
        {L"setup.exe", L"setup.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OfferSource(c.address, endpoint).url, c.fetched) << c.address;
        EXPECT_EQ(MainSourceIsv(c.address, endpoint).url, c.fetched) << c.address;
        EXPECT_TRUE(OfferSource(c.address, endpoint).useTempFolder);
    }
    // The download manager's product is fetched as given, under its own name,
    // into the download folder.
    const DownloadSource product = MainSourceDlm(L"installers/app.exe", L"App Setup.exe");
    EXPECT_EQ(product.url, L"installers/app.exe");
    EXPECT_EQ(product.fileName, L"App Setup.exe");
    EXPECT_FALSE(product.useTempFolder);
}

// Failure texts reach the service as the user saw them, whatever the
// machine's code page: the wide text goes out as UTF-8.
TEST(DownloadPlan, FailureTextsKeepEveryLetter) {
    const struct {
        const wchar_t* text;
        const char* sent;
    } cases[] = {
        {L"exit code = 2", "EXEC FAILED: exit code = 2"},
        {L"Error launching executable: C:\\Users\\\u0416\u0435\u043D\u044F\\setup.exe",
         "EXEC FAILED: Error launching executable: C:\\Users\\\xD0\x96\xD0\xB5\xD0\xBD\xD1\x8F\\setup.exe"},
        {L"\u4E0B\u8F7D\u5931\u8D25", "EXEC FAILED: \xE4\xB8\x8B\xE8\xBD\xBD\xE5\xA4\xB1\xE8\xB4\xA5"},
    };
    for (const auto& c : cases) EXPECT_EQ(FailureEventText("EXEC FAILED: ", c.text), c.sent);
}

// What happened on a page, in order: events by package label, the wizard's
// callbacks, and which installers had run when each callback came.
struct Journal {
    std::mutex lock;
    std::map<std::string, std::vector<json>> events;  // label -> event bodies
    std::vector<std::string> steps;

    void Step(const std::string& step) {
        std::lock_guard<std::mutex> guard(lock);
        steps.push_back(step);
    }
    std::vector<std::string> Steps() {
        std::lock_guard<std::mutex> guard(lock);
        return steps;
    }
    std::vector<json> Events(const std::string& label) {
        std::lock_guard<std::mutex> guard(lock);
        return events[label];
    }
};

PackageEnvironment RecordingEnvironment(std::shared_ptr<Journal> journal, const std::string& label) {
    return ::RecordingEnvironment([journal, label](const json& event) {
        std::lock_guard<std::mutex> guard(journal->lock);
        journal->events[label].push_back(event);
    });
}

using demomarkers::Await;
using demomarkers::Read;

std::string Ran(const std::vector<std::string>& names) {
    std::string ran;
    for (const auto& name : names)
        if (!Read(name).empty()) ran += (ran.empty() ? "" : "+") + name;
    return ran.empty() ? "none" : ran;
}

struct OfferToFetch {
    std::string label;  // the demo installer's marker name
    std::string url;
    std::string parameters;
};

// A wizard of one type with English loaded, a folder of its own for the
// downloads and the product and offers the page is to fetch.
struct DownloadWizard : Wizard {
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::unique_ptr<LanguagePage> language;
    std::wstring folder;
    std::vector<std::string> installers;  // every marker name in play

    explicit DownloadWizard(int wizardType) : Wizard(false, wizardType) {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"tamsel-download-pages-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(folder.c_str(), nullptr);
        config->tempFolder = folder;
        config->downloadFolder = folder;
        config->fileEndpointUrl = L"https://localhost/f/";
        config->productTitle = L"Tamsel Demo App";
        config->userQuit = false;
        const auto downloads = GetDownloadManager();
        downloads->downloadFolder = folder;
        downloads->tempFolder = folder;
        downloads->cancelled = false;
        language = Create<LanguagePage>();
    }
    ~DownloadWizard() {
        for (const auto& name : installers) demomarkers::Remove(name);
    }

    void Product(const std::string& label, const std::wstring& url) {
        installers.push_back(label);
        demomarkers::Remove(label);
        config->productUrl = url;
        config->productFileName = L"TamselDemoAppSetup.exe";
        SignedRequest request;
        request.body = json::object();
        config->mainPackage = Package::CreateMain(request, config->productTitle, L"app", L"", L"",
                                                  RecordingEnvironment(journal, label));
    }
    // sha256: the digest the configuration states for the offer's file, if any.
    void Offer(const OfferToFetch& offer, const std::string& sha256 = std::string()) {
        installers.push_back(offer.label);
        demomarkers::Remove(offer.label);
        SignedRequest request;
        request.body = json::object();
        json element{{"ad", {{"o", offer.label}, {"f", "feed"}}},
                     {"ps", {{"i", "images/x.png"}, {"dn", offer.label}, {"u", offer.url}, {"p", offer.parameters}}}};
        if (!sha256.empty()) element["ps"]["sha256"] = sha256;
        auto package = Package::CreateOffer(request, element, "", static_cast<int32_t>(config->shownOffers.size()),
                                            RecordingEnvironment(journal, offer.label));
        config->shownOffers.push_back(package);
        config->acceptedOffers.push_back(package);
    }

    template <typename Page>
    void Watch(Page& page) {
        page.SetButtonCallback([this](ButtonType button) {
            journal->Step(button == ButtonType::Next ? "next" : "button");
        });
        page.SetErrorCallback([this](const std::wstring& title, const std::wstring& text) {
            journal->Step("error: " + std::string(title.begin(), title.end()) + " / " +
                          std::string(text.begin(), text.end()));
        });
    }

    // Runs the page's messages until it called the wizard back.
    bool RunUntilDone(int seconds = 60) {
        for (int i = 0; i < seconds * 100; ++i) {
            PumpMessages();
            for (const auto& step : journal->Steps())
                if (step == "next" || step.rfind("error", 0) == 0) return true;
            ::Sleep(10);
        }
        return false;
    }

    // Waits for every package's events to arrive (they go out on threads).
    void SettleEvents() {
        if (config->mainPackage) config->mainPackage->WaitForEvents();
        for (const auto& offer : config->acceptedOffers) offer->WaitForEvents();
    }
};

std::vector<int> Codes(const std::vector<json>& events) {
    std::vector<int> codes;
    for (const json& e : events) codes.push_back(std::stoi(e.at("6").get<std::string>()));
    return codes;
}

std::string Failure(const std::vector<json>& events) {
    return events.empty() ? std::string() : events.front().value("12", "");
}

TEST(DownloadPageIsv, TheProductIsInstalledAndWaitedForThenTheOffersAreStarted) {
    DownloadWizard w(kWizardTypeIsv);
    w.Product("clean", L"installers/clean-setup.exe");
    w.Offer({"notes", "installers/notes-setup.exe", "/quiet /from=isv-a"});
    w.Offer({"weather", "installers/weather-setup.exe", "/quiet /from=isv-b"});
    auto page = w.Create<DownloadPageIsv>(w.config);
    w.Watch(*page);
    const std::vector<std::string> all{"clean", "notes", "weather"};
    page->SetInstallStartedCallback([&] { w.journal->Step("started, ran " + Ran(all)); });
    page->SetInstallEndedCallback([&] { w.journal->Step("ended, ran " + Ran(all)); });

    page->OnNavigateToPage();
    ASSERT_TRUE(w.RunUntilDone());
    // The product's installer had ended before the offers' were started.
    const std::vector<std::string> steps = w.journal->Steps();
    ASSERT_EQ(steps.size(), 4u) << testing::PrintToString(steps);
    EXPECT_EQ(steps[0], "started, ran none");
    EXPECT_EQ(steps[1], "ended, ran clean");
    EXPECT_EQ(steps[2].rfind("ended, ran clean", 0), 0u) << steps[2];
    EXPECT_EQ(steps[3], "next");

    EXPECT_NE(Await("notes").find("/quiet /from=isv-a"), std::string::npos);
    EXPECT_NE(Await("weather").find("/quiet /from=isv-b"), std::string::npos);
    w.SettleEvents();
    for (const auto& label : all)
        EXPECT_EQ(Codes(w.journal->Events(label)), std::vector<int>{3}) << label << Failure(w.journal->Events(label));
    // The installed product is what the finish page may start.
    EXPECT_EQ(w.config->downloadedFilePath, w.folder + L"\\clean-setup.exe");
}

TEST(DownloadPageIsv, AFailingProductInstallerIsReportedAndTheOffersStillStart) {
    const struct {
        const char* what;
        std::wstring productUrl;
        std::wstring arguments;
        const char* failure;
    } cases[] = {
        {"exit code 2", L"installers/clean-setup.exe", L"/exit=2", "EXEC FAILED: exit code = 2"},
        {"download failed", L"installers/missing-product.exe", L"", "DOWNLOAD FAILED: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DownloadWizard w(kWizardTypeIsv);
        w.Product("clean", c.productUrl);
        w.config->mainInstallerArguments = c.arguments;
        w.Offer({"notes", "installers/notes-setup.exe", "/quiet /from=isv-fail"});
        auto page = w.Create<DownloadPageIsv>(w.config);
        w.Watch(*page);
        page->OnNavigateToPage();
        ASSERT_TRUE(w.RunUntilDone());
        EXPECT_EQ(w.journal->Steps().back(),
                  "error: Error occurred while installing Tamsel Demo App. / Click on \"Close\" and try again later.");
        EXPECT_NE(Await("notes").find("/from=isv-fail"), std::string::npos);
        w.SettleEvents();
        const auto main = w.journal->Events("clean");
        EXPECT_EQ(Codes(main), std::vector<int>{3});
        EXPECT_EQ(Failure(main).rfind(c.failure, 0), 0u) << Failure(main);
        EXPECT_EQ(Codes(w.journal->Events("notes")), std::vector<int>{3});
    }
}

TEST(DownloadPageIsv, TheClassicFlowForcesTheInstallWithTheBoxesChecked) {
    DownloadWizard w(kWizardTypeIsv);
    w.config->btClassicPages = true;
    w.config->btConfigurations = {true, false, true, false, false};  // boxes 1 and 3
    w.Product("clean", L"installers/clean-setup.exe");
    auto page = w.Create<DownloadPageIsv>(w.config);
    w.Watch(*page);
    page->OnNavigateToPage();
    ASSERT_TRUE(w.RunUntilDone());
    EXPECT_NE(Read("clean").find("\" /S /FORCEINSTALL 1010000101010000"), std::string::npos)
        << Read("clean");
}

TEST(DownloadPageDlm, TheProductIsKeptAndTheOffersStartedWithTheirParameters) {
    DownloadWizard w(kWizardTypeDlm);
    w.Product("app", L"https://localhost/f/installers/tamsel-demo-app.exe");
    w.Offer({"notes", "installers/notes-setup.exe", "/quiet /from=dlm-a"});
    w.Offer({"weather", "installers/missing-setup.exe", "/quiet"});
    auto page = w.Create<DownloadPageDlm>(w.config);
    w.Watch(*page);
    page->OnNavigateToPage();
    ASSERT_TRUE(w.RunUntilDone());
    EXPECT_EQ(w.journal->Steps(), std::vector<std::string>{"next"});
    EXPECT_NE(Await("notes").find("/quiet /from=dlm-a"), std::string::npos);
    // The product itself is only downloaded.
    EXPECT_TRUE(Read("app").empty());
    EXPECT_EQ(w.config->downloadedFilePath, w.folder + L"\\TamselDemoAppSetup.exe");
    w.SettleEvents();
    EXPECT_EQ(Codes(w.journal->Events("app")), std::vector<int>{3});
    EXPECT_EQ(Codes(w.journal->Events("notes")), std::vector<int>{3});
    const auto failed = w.journal->Events("weather");
    EXPECT_EQ(Codes(failed), std::vector<int>{-1});
    EXPECT_EQ(Failure(failed).rfind("DOWNLOAD FAILED: ", 0), 0u) << Failure(failed);
}

// The digest of a file the service serves, from its bytes.
std::string ServedDigest(const std::wstring& url) {
    const DownloadBuffer bytes = GetDownloadManager()->DownloadToMemory(url);
    EXPECT_FALSE(bytes.empty()) << "nothing served at that address";
    return Sha256Hex(std::string(bytes.begin(), bytes.end()));
}

std::string Altered(std::string digest) {
    digest[0] = digest[0] == 'a' ? 'b' : 'a';
    return digest;
}

// Stated digests decide what is kept and started: a product or an offer whose
// file differs is a failed download, reported like any other; a file without
// a digest is fetched as before.
TEST(DownloadPageDlm, StatedDigestsDecideWhatIsKeptAndStarted) {
    const std::wstring appUrl = L"https://localhost/f/installers/tamsel-demo-app.exe";
    const std::string app = ServedDigest(appUrl);
    const std::string notes = ServedDigest(L"https://localhost/f/installers/notes-setup.exe");
    ASSERT_EQ(app.size(), 64u);
    ASSERT_EQ(notes.size(), 64u);
    for (const bool match : {true, false}) {
        SCOPED_TRACE(match ? "matching digests" : "altered digests");
        DownloadWizard w(kWizardTypeDlm);
        w.Product("app", appUrl);
        w.config->productSha256 = match ? app : Altered(app);
        w.Offer({"notes", "installers/notes-setup.exe", "/quiet"}, match ? notes : Altered(notes));
        w.Offer({"weather", "installers/weather-setup.exe", "/quiet"});
        const std::wstring product = w.folder + L"\\TamselDemoAppSetup.exe";
        ::DeleteFileW(product.c_str());
        auto page = w.Create<DownloadPageDlm>(w.config);
        w.Watch(*page);
        page->OnNavigateToPage();
        ASSERT_TRUE(w.RunUntilDone());
        EXPECT_FALSE(Await("weather").empty());
        w.SettleEvents();
        const bool kept = ::GetFileAttributesW(product.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (match) {
            EXPECT_EQ(w.journal->Steps(), std::vector<std::string>{"next"});
            EXPECT_TRUE(kept);
            EXPECT_FALSE(Await("notes").empty());
            EXPECT_EQ(Codes(w.journal->Events("notes")), std::vector<int>{3});
            EXPECT_EQ(Failure(w.journal->Events("app")), "");
        } else {
            ASSERT_EQ(w.journal->Steps().size(), 1u);
            EXPECT_EQ(w.journal->Steps()[0].rfind("error: ", 0), 0u) << w.journal->Steps()[0];
            EXPECT_FALSE(kept) << "a product that is not what was stated stays off the disk";
            EXPECT_TRUE(Read("notes").empty()) << "an offer that is not what was stated is never started";
            EXPECT_EQ(Codes(w.journal->Events("notes")), std::vector<int>{-1});
            for (const char* label : {"app", "notes"})
                EXPECT_NE(Failure(w.journal->Events(label)).find("does not match its SHA-256 digest"), std::string::npos)
                    << label << ": " << Failure(w.journal->Events(label));
        }
        EXPECT_EQ(Codes(w.journal->Events("weather")), std::vector<int>{3});
    }
}

TEST(DownloadPageDlm, NothingHappensOnceTheUserHasQuit) {
    DownloadWizard w(kWizardTypeDlm);
    w.Product("app", L"https://localhost/f/installers/tamsel-demo-app.exe");
    w.Offer({"notes", "installers/notes-setup.exe", "/quiet"});
    w.config->userQuit = true;
    auto page = w.Create<DownloadPageDlm>(w.config);
    w.Watch(*page);
    page->OnNavigateToPage();
    EXPECT_FALSE(w.RunUntilDone(3));
    w.SettleEvents();
    EXPECT_TRUE(w.journal->Events("app").empty());
    EXPECT_TRUE(w.journal->Events("notes").empty());
    EXPECT_TRUE(Read("notes").empty());
}

TEST(DownloadPage, TheBarGoesToMarqueeForAnUnknownSizeAndBackForTheNextFile) {
    DownloadWizard w(kWizardTypeDlm);
    auto page = w.Create<DownloadPageDlm>(w.config);
    HWND bar = ::GetDlgItem(page->GetSafeHwnd(), IDC_PROGRESS);
    auto marquee = [&] { return (::GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0; };
    const int defaultButton = LOWORD(::SendMessageW(page->GetSafeHwnd(), DM_GETDEFID, 0, 0));

    ::SendMessageW(page->GetSafeHwnd(), WM_DOWNLOAD_PROGRESS, 40, 0);
    EXPECT_FALSE(marquee());
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 40);
    ::SendMessageW(page->GetSafeHwnd(), WM_DOWNLOAD_SIZE_UNKNOWN, 0, 0);
    EXPECT_TRUE(marquee());
    ::SendMessageW(page->GetSafeHwnd(), WM_DOWNLOAD_PROGRESS, 3, 0);
    EXPECT_FALSE(marquee());
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), 3);
    EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
    // The worker's messages share their numbers with DM_SETDEFID and
    // DM_REPOSITION: the page's default button never moves.
    EXPECT_EQ(LOWORD(::SendMessageW(page->GetSafeHwnd(), DM_GETDEFID, 0, 0)), defaultButton);
}

}  // namespace
