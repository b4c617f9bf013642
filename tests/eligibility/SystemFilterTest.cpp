// The offer rules on the real machine: the filter's own SystemFacts reading
// the prefix's registry, files and processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "ChildProcess.h"
#include "OfferFactory.h"
#include "TestRegistry.h"
#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"
#include "eligibility/OfferFilter.h"
#include "eligibility/Probes.h"

using nlohmann::json;

namespace {

using testreg::ScopedKey;
using testreg::Unique;

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }  // ASCII test names only

// "+" when accepted, else the reported reason.
std::string Judge(const json& settings) {
    OfferFilter filter(5, GetConfiguration());
    OfferFactory factory;
    bool limit = false;
    if (filter.CheckOffer(factory.Make("solo", settings, 0), limit, {})) return "+";
    const auto events = factory.Events("solo");
    return events.size() == 1 ? events.front().second : "?";
}

class OnThisMachine : public testing::Test {
protected:
    void SetUp() override {
        native_ = std::make_unique<ScopedKey>(HKEY_LOCAL_MACHINE, L"Software", nativeVendor_ + L"\\App",
                                              KEY_WOW64_64KEY);
        native_->SetDword(L"count", 7);
        native_->SetString(L"mode", L"On");
        redirected_ = std::make_unique<ScopedKey>(HKEY_LOCAL_MACHINE, L"Software", redirectedVendor_ + L"\\App",
                                                  KEY_WOW64_32KEY);
        redirected_->SetString(L"mode", L"Legacy");
    }

    const std::wstring nativeVendor_ = Unique(L"TamselFilterNative");
    const std::wstring redirectedVendor_ = Unique(L"TamselFilterRedirected");
    const std::string native = Narrow(nativeVendor_) + "\\App";
    const std::string redirected = Narrow(redirectedVendor_) + "\\App";
    std::unique_ptr<ScopedKey> native_, redirected_;
};

TEST_F(OnThisMachine, RegistryRules) {
    const bool wow64 = testenv::Config() == "wow64";
    // The 32-bit program finds the 32-bit branch (through its Wow6432Node
    // candidates under WOW64, as the only branch on a 32-bit Windows); the
    // 64-bit test build has neither and never looks there.
    const bool sees32 = !testenv::kIs64BitProcess;
    const auto in32 = [&](const char* found, const char* otherwise) { return sees32 ? found : otherwise; };
    const struct {
        json settings;
        std::string outcome;
    } cases[] = {
        {{{"r", {native}}}, "REGISTRY KEY EXISTS"},
        {{{"r", {redirected}}}, in32("REGISTRY KEY EXISTS", "+")},
        {{{"r", {"HKLM\\Software\\Wow6432Node\\" + redirected}}}, wow64 ? "REGISTRY KEY EXISTS" : "+"},
        {{{"r", {"HKLM\\Software\\" + redirected}}}, testenv::Config() == "win32" ? "REGISTRY KEY EXISTS" : "+"},
        {{{"r", {native + "\\Missing"}}}, "+"},
        {{{"ir", {native + "\\Missing", redirected}}}, in32("+", "NONE OF THE REGISTRY KEYS EXISTS")},
        {{{"ir", {native + "\\Missing"}}}, "NONE OF THE REGISTRY KEYS EXISTS"},
        {{{"rvn", {native + "\\count"}}}, "REGISTRY VALUE EXISTS"},
        {{{"rvn", {redirected + "\\mode"}}}, in32("REGISTRY VALUE EXISTS", "+")},
        {{{"rvn", {native + "\\other"}}}, "+"},
        {{{"rvd", {native + "\\count\\7"}}}, "REGISTRY VALUE DATA MATCHES"},
        {{{"rvd", {native + "\\count\\8"}}}, "+"},
        {{{"rvd", {native + "\\mode\\ON"}}}, "REGISTRY VALUE DATA MATCHES"},
        {{{"rvd", {redirected + "\\mode\\legacy"}}}, in32("REGISTRY VALUE DATA MATCHES", "+")},
    };
    for (const auto& c : cases) EXPECT_EQ(Judge(c.settings), c.outcome) << c.settings.dump();
}

TEST_F(OnThisMachine, EntriesThatCannotBeEvaluatedLeaveTheCheck) {
    const json record{{"utr", "hkey_nowhere"}, {"utk", "software\\x"}, {"utvn", "t"}, {"utvt", "s"}, {"umd", 1}};
    const struct {
        const char* what;
        json settings;
        bool indexError;  // else a number that is not one
    } cases[] = {
        {"key ending after the software key", {{"r", {"hklm\\software\\"}}}, true},
        {"value key ending after the software key", {{"rvn", {"hklm\\software\\\\v"}}}, true},
        {"unknown root of a cmdu record", {{"cmdu", json::array({record})}}, true},
        {"data that is no number", {{"rvd", {native + "\\count\\seven"}}}, false},
    };
    for (const auto& c : cases) {
        OfferFilter filter(5, GetConfiguration());
        OfferFactory factory;
        bool limit = false;
        const auto package = factory.Make("A", c.settings, 0);
        if (c.indexError) {
            EXPECT_THROW(filter.CheckOffer(package, limit, {}), std::out_of_range) << c.what;
        } else {
            EXPECT_THROW(filter.CheckOffer(package, limit, {}), std::invalid_argument) << c.what;
        }
        EXPECT_TRUE(factory.Events("A").empty()) << c.what;
    }
}

TEST_F(OnThisMachine, UninstallTimes) {
    const int64_t now = CurrentUnixSeconds();
    const int64_t day = 86400;
    native_->SetString(L"threeDays", std::to_wstring(now - 3 * day));
    native_->SetDword(L"eightDays", static_cast<DWORD>(now - 8 * day));
    native_->SetQword(L"threeDaysMs", static_cast<uint64_t>(now - 3 * day) * 1000);
    redirected_->SetString(L"threeDays", std::to_wstring(now - 3 * day));
    const auto record = [&](const std::string& root, const std::string& subkey, const char* name, bool ms) {
        json r{{"utr", root}, {"utk", subkey}, {"utvn", name}, {"utvt", "s"}, {"umd", 7}};
        if (ms) r["utms"] = true;
        return json{{"cmdu", json::array({r})}};
    };
    const std::string lm = "HKEY_LOCAL_MACHINE";
    const struct {
        json settings;
        std::string outcome;
    } cases[] = {
        {record(lm, "Software\\" + native, "threeDays", false), "MIN DAYS UNINSTALL CHECKER"},
        {record(lm, "Software\\" + native, "eightDays", false), "+"},
        {record(lm, "Software\\" + native, "threeDaysMs", true), "MIN DAYS UNINSTALL CHECKER"},
        // Only the 32-bit program has a candidate in the 32-bit branch.
        {record(lm, "Software\\" + redirected, "threeDays", false),
         testenv::kIs64BitProcess ? "+" : "MIN DAYS UNINSTALL CHECKER"},
        {record(lm, "Software\\" + native, "missing", false), "+"},
    };
    for (const auto& c : cases) EXPECT_EQ(Judge(c.settings), c.outcome) << c.settings.dump();
}

TEST(PushNotificationMarker, AShownOfferIsNotShownAgain) {
    const std::wstring key = Unique(L"TamselMarker");
    // The marker is written through the default view; removed with the key.
    ScopedKey scope(HKEY_LOCAL_MACHINE, L"SOFTWARE", key, testenv::kDefaultView);
    const json pushed{{"pn", true}, {"pnr", "SOFTWARE\\" + Narrow(key) + "\\Shown"}};
    EXPECT_EQ(Judge(pushed), "+");
    {
        OfferFactory factory;
        ASSERT_TRUE(factory.Make("shown", pushed, 0)->WriteDateMarker());
    }
    EXPECT_EQ(Judge(pushed), "PN NO SHOW");

    const std::wstring today = TodayLocalDate();
    scope.SetDword(L"Shown", static_cast<DWORD>(std::stoul(today)));
    EXPECT_EQ(Judge(pushed), "+");
}

TEST(RunningPrograms, ARunningProcessRejectsByItsName) {
    ChildProcess child;
    EXPECT_EQ(Judge({{"a", {"tamselchild.probe"}}}), "APPLICATION RUNNING");
    EXPECT_EQ(Judge({{"a", {"TamselChild.Probe.exe"}}}), "APPLICATION RUNNING");
    EXPECT_EQ(Judge({{"a", {"tamselchild"}}}), "+");
    child.End();
    EXPECT_EQ(Judge({{"a", {"tamselchild.probe"}}}), "+");
}

TEST(MachineMinimums, MeasuredOnThisMachine) {
    EXPECT_EQ(Judge({{"ram", 1}, {"disk", 1}, {"cpu", 1}}), "+");
    EXPECT_EQ(Judge({{"ram", 1ULL << 40}}), "NOT ENOUGH RAM");
    EXPECT_EQ(Judge({{"disk", 1ULL << 40}}), "NOT ENOUGH DISK SPACE");
    EXPECT_EQ(Judge({{"cpu", 1ULL << 40}}), "NOT ENOUGH CPU");
    EXPECT_EQ(Judge({{"win64", true}}), testenv::Config() == "wow64" ? "+" : "64 BIT OS REQUIRED");
}

// What the system answers for a structure whose length is not set.
BOOL WINAPI MemoryStatusOfNoLength(LPMEMORYSTATUSEX status) {
    status->dwLength = 0;
    return ::GlobalMemoryStatusEx(status);
}

// A measurement that fails rejects the offer with the probe's own text, sent
// as the rejection's reason; the filter measures through its SystemFacts.
TEST(MachineMinimums, AFailedMeasurementIsTheReason) {
    std::wstring absent;  // a drive letter that names no drive
    for (wchar_t letter = L'Q'; letter <= L'Y' && absent.empty(); ++letter) {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        if (::GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) absent = root;
    }
    ASSERT_FALSE(absent.empty());
    const std::wstring vendor = Unique(L"TamselFilterProcessor");
    ScopedKey processor(HKEY_CURRENT_USER, L"Software\\" + vendor, L"0", KEY_WOW64_64KEY);
    const struct {
        json settings;
        std::function<void(ProbeSources&)> point;
        std::string reason;
    } cases[] = {
        {{{"disk", 1}}, [&](ProbeSources& s) { s.diskFolder = absent + L"Users"; }, "DISK SPACE CHECK FAILED 3"},
        {{{"disk", 1}}, [](ProbeSources& s) { s.diskFolder = L"C:\\Users"; }, "+"},
        {{{"cpu", 1}},
         [&](ProbeSources& s) {
             s.processorRoot = HKEY_CURRENT_USER;
             s.processorKey = Narrow(L"Software\\" + vendor + L"\\0");
         },
         "CPU CHECK FAILED: Couldn't read value"},
        {{{"cpu", 1}},
         [&](ProbeSources& s) {
             s.processorRoot = HKEY_CURRENT_USER;
             s.processorKey = Narrow(L"Software\\" + vendor + L"\\1");
         },
         "CPU CHECK FAILED: Couldn't open registry"},
        {{{"ram", 1}}, [](ProbeSources& s) { s.memoryStatus = MemoryStatusOfNoLength; }, "RAM CHECK FAILED 87"},
    };
    for (const auto& c : cases) {
        ProbeSources sources;
        c.point(sources);
        OfferFilter filter(5, std::make_shared<SystemFacts>(FolderPlaceholderList{}, sources), GetConfiguration());
        OfferFactory factory;
        bool limit = false;
        const bool accepted = filter.CheckOffer(factory.Make("measured", c.settings, 0), limit, {});
        const auto events = factory.Events("measured");
        if (c.reason == "+") {
            EXPECT_TRUE(accepted) << c.settings.dump();
            EXPECT_TRUE(events.empty()) << c.settings.dump();
        } else {
            EXPECT_FALSE(accepted) << c.settings.dump();
            EXPECT_EQ(events, (std::vector<std::pair<std::string, std::string>>{{"2", c.reason}})) << c.settings.dump();
        }
    }
}

}  // namespace
