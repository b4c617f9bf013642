// The offer rules over tables of offers and machine facts. Packages are built
// from configuration JSON and report through their real event path into a
// recording poster.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "FactTable.h"
#include "OfferFactory.h"
#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "eligibility/OfferFilter.h"
#include "eligibility/OfferSelection.h"
#include "util/Base62.h"

using nlohmann::json;

namespace {

// Clean build configuration values for each test, restored afterwards.
class FilterTest : public testing::Test {
protected:
    void SetUp() override {
        config_ = GetConfiguration();
        savedVersion_ = config_->fileVersion;
        config_->fileVersion = L"3.2.2.1212";
        config_->extraOfferAllowance = 0;
    }
    void TearDown() override {
        config_->fileVersion = savedVersion_;
        config_->extraOfferAllowance = 0;
    }

    std::shared_ptr<ConfigurationManager> config_;
    std::wstring savedVersion_;
};

// What happened to one offer of a run: accepted ("+"), the limit met
// ("LIMIT"), rejected silently ("-"), or the reason it was rejected with.
struct FilterRun {
    std::vector<std::string> outcomes;
    OfferFilter::PackageList accepted;
};

// Thrown by the factory when the loop asks for the element after the last
// offer: it went through every offer without stopping.
struct PastTheLastOffer {};

// The offers through the loading task's loop (SelectOffers), with what
// happened to each one read back from the positions the factory was given
// (a later position tells that an offer was accepted), the list returned
// and the events each offer posted.
FilterRun RunOffers(OfferFilter& filter, OfferFactory& factory, const std::vector<std::pair<std::string, json>>& offers) {
    json elements = json::array();
    for (const auto& [id, settings] : offers) elements.push_back({{"id", id}, {"settings", settings}});
    elements.push_back(nullptr);
    std::vector<std::shared_ptr<Package>> made;
    std::vector<int32_t> positions;  // one per factory call, the sentinel's included
    const PackageFactory make = [&](const json& element, int32_t position) {
        positions.push_back(position);
        if (element.is_null()) throw PastTheLastOffer{};
        made.push_back(factory.Make(element.at("id").get<std::string>(), element.at("settings"), position));
        return made.back();
    };
    int packageCount = 0;
    OfferFilter::PackageList selected;
    bool stopped = true;
    try {
        selected = SelectOffers(elements, filter, make, packageCount);
    } catch (const PastTheLastOffer&) {
        stopped = false;
    }

    FilterRun run;
    for (size_t i = 0; i < made.size(); ++i) {
        const std::string& id = offers[i].first;
        const bool accepted = stopped ? std::find(selected.begin(), selected.end(), made[i]) != selected.end()
                                      : positions[i + 1] > positions[i];
        const bool endedTheLoop = stopped && i + 1 == made.size();
        if (accepted) {
            EXPECT_TRUE(factory.Events(id).empty()) << id;
            EXPECT_TRUE(!endedTheLoop || made[i]->exclusive) << id << ": accepted, and the limit reached with it";
            run.outcomes.push_back("+");
            run.accepted.push_back(made[i]);
            continue;
        }
        if (endedTheLoop) {
            EXPECT_TRUE(factory.Events(id).empty()) << id << ": the offer at the limit is not reported";
            run.outcomes.push_back("LIMIT");
            continue;
        }
        const auto events = factory.Events(id);
        if (events.empty()) {
            run.outcomes.push_back("-");
            continue;
        }
        EXPECT_EQ(events.size(), 1u) << id << ": one report per rejection";
        EXPECT_EQ(events.front().first, "2") << id;
        run.outcomes.push_back(events.front().second);
    }
    if (stopped) {
        EXPECT_EQ(run.accepted, selected);
    }
    EXPECT_EQ(packageCount, static_cast<int>(run.accepted.size()));
    return run;
}

// One offer alone on a machine described by the facts.
std::string Judge(const json& settings, const std::function<void(FactTable&)>& machine) {
    auto facts = std::make_shared<FactTable>();
    if (machine) machine(*facts);
    OfferFilter filter(5, facts, GetConfiguration());
    OfferFactory factory;
    const FilterRun run = RunOffers(filter, factory, {{"solo", settings}});
    return run.outcomes.empty() ? "?" : run.outcomes.front();
}

struct RuleCase {
    const char* what;
    json settings;
    std::function<void(FactTable&)> machine;
    const char* outcome;
};

void ExpectOutcomes(const std::vector<RuleCase>& cases) {
    for (const RuleCase& c : cases) {
        EXPECT_EQ(Judge(c.settings, c.machine), c.outcome) << c.what;
    }
}

const std::wstring kVendorKey = L"hkey_local_machine\\software\\vendor";

TEST_F(FilterTest, MachineMinimums) {
    ExpectOutcomes({
        {"asks nothing", json::object(), nullptr, "+"},
        {"enough disk", {{"disk", 5000}}, [](FactTable& f) { f.disk.value = 5000; }, "+"},
        {"too little disk", {{"disk", 5001}}, [](FactTable& f) { f.disk.value = 5000; }, "NOT ENOUGH DISK SPACE"},
        {"disk probe failed", {{"disk", 1}}, [](FactTable& f) { f.disk = {false, 0, "DISK SPACE CHECK FAILED 3"}; },
         "DISK SPACE CHECK FAILED 3"},
        {"too little memory", {{"ram", 8193}}, [](FactTable& f) { f.memory.value = 8192; }, "NOT ENOUGH RAM"},
        {"memory probe failed", {{"ram", 1}}, [](FactTable& f) { f.memory = {false, 0, "RAM CHECK FAILED 87"}; },
         "RAM CHECK FAILED 87"},
        {"slow processor", {{"cpu", 2401}}, [](FactTable& f) { f.processor.value = 2400; }, "NOT ENOUGH CPU"},
        {"fast processor", {{"cpu", 2400}}, [](FactTable& f) { f.processor.value = 2400; }, "+"},
        {"processor probe failed", {{"cpu", 1}},
         [](FactTable& f) { f.processor = {false, 0, "CPU CHECK FAILED: Couldn't read value"}; },
         "CPU CHECK FAILED: Couldn't read value"},
        {"requirement above 32 bits", {{"disk", 5ULL << 32}}, [](FactTable& f) { f.disk.value = 1ULL << 32; },
         "NOT ENOUGH DISK SPACE"},
        {"x 1 wins over ram", {{"x", 1}, {"ram", 8000}},
         [](FactTable& f) { f.memory.value = 250; f.disk.value = 2500; }, "+"},
        {"x 1 asks 250 MiB of memory", {{"x", 1}}, [](FactTable& f) { f.memory.value = 249; }, "NOT ENOUGH RAM"},
        {"x 1 asks 2500 MiB of disk", {{"x", 1}}, [](FactTable& f) { f.disk.value = 2499; },
         "NOT ENOUGH DISK SPACE"},
        {"x 3 asks 1500 MHz", {{"x", 3}}, [](FactTable& f) { f.processor.value = 1499; }, "NOT ENOUGH CPU"},
        {"disk is judged before memory", {{"disk", 10}, {"ram", 10}},
         [](FactTable& f) { f.disk.value = 1; f.memory.value = 1; }, "NOT ENOUGH DISK SPACE"},
    });
}

TEST_F(FilterTest, WindowsAndProgramVersions) {
    const auto windows = [](DWORD major, DWORD minor) {
        return [=](FactTable& f) { f.windowsMajor = major; f.windowsMinor = minor; };
    };
    ExpectOutcomes({
        {"ov 61 on 7", {{"ov", 61}}, windows(6, 1), "+"},
        {"ov 62 on 7", {{"ov", 62}}, windows(6, 1), "UNSUPPORTED OS VERSION"},
        {"ov 63 on 8.1", {{"ov", 63}}, windows(6, 3), "+"},
        {"ov 100 on 8.1", {{"ov", 100}}, windows(6, 3), "UNSUPPORTED OS VERSION"},
        {"ov 100 on 10", {{"ov", 100}}, windows(10, 0), "+"},
        {"ov 64 anywhere", {{"ov", 64}}, windows(10, 0), "UNSUPPORTED OS VERSION"},
        {"ov 0", {{"ov", 0}}, windows(5, 1), "+"},
        {"ov -5", {{"ov", -5}}, windows(5, 1), "+"},
        {"pv newer build", {{"pv", "3.2.2.1213"}}, nullptr, "UNSUPPORTED PLATFORM VERSION"},
        {"pv same", {{"pv", "3.2.2.1212"}}, nullptr, "+"},
        {"pv shorter", {{"pv", "3.2.2"}}, nullptr, "+"},
        {"pv 3..2", {{"pv", "3..2"}}, nullptr, "+"},
        {"pv 3.10", {{"pv", "3.10"}}, nullptr, "UNSUPPORTED PLATFORM VERSION"},
        {"pv 4", {{"pv", "4"}}, nullptr, "UNSUPPORTED PLATFORM VERSION"},
        {"pv longer and equal", {{"pv", "3.2.2.1212.0"}}, nullptr, "+"},
        {"pv longer and newer", {{"pv", "3.2.2.1212.1"}}, nullptr, "UNSUPPORTED PLATFORM VERSION"},
        {"pv without digits", {{"pv", "beta"}}, nullptr, "+"},
        {"win64 under WOW64", {{"win64", true}}, [](FactTable& f) { f.wow64 = true; }, "+"},
        {"win64 on 32-bit Windows", {{"win64", true}}, [](FactTable& f) { f.wow64 = false; }, "64 BIT OS REQUIRED"},
        {"x 10 on 32-bit Windows", {{"x", 10}}, [](FactTable& f) { f.wow64 = false; }, "64 BIT OS REQUIRED"},
    });
}

TEST_F(FilterTest, FilesProgramsAndBrowsers) {
    const auto withFile = [](FactTable& f) { f.paths.insert(L"C:\\present.txt"); };
    const auto running = [](std::vector<std::wstring> names) {
        return [=](FactTable& f) { f.processes = names; };
    };
    const auto chrome = [](bool present, bool ieFound, float ie) {
        return [=](FactTable& f) {
            f.chrome = present;
            f.ie = {ieFound, ie};
        };
    };
    ExpectOutcomes({
        {"fe present", {{"fe", {"C:\\absent.txt", "C:\\present.txt"}}}, withFile, "FILE EXISTS"},
        {"fe absent", {{"fe", {"C:\\absent.txt"}}}, withFile, "+"},
        {"ife present", {{"ife", {"C:\\absent.txt", "C:\\present.txt"}}}, withFile, "+"},
        {"ife absent", {{"ife", {"C:\\absent.txt"}}}, withFile, "NONE OF THE FILES EXISTS"},
        {"a without extension", {{"a", {"setup"}}}, running({L"Setup.exe"}), "APPLICATION RUNNING"},
        {"a upper case", {{"a", {"SETUP.EXE"}}}, running({L"setup.exe"}), "APPLICATION RUNNING"},
        {"a with extension, one more dot", {{"a", {"setup.exe"}}}, running({L"setup.exe.bak"}),
         "APPLICATION RUNNING"},
        {"a cut once only", {{"a", {"setup"}}}, running({L"setup.exe.bak"}), "+"},
        {"a other dotted name", {{"a", {"chrome"}}}, running({L"chrome.beta.exe"}), "+"},
        {"a no extension either side", {{"a", {"system"}}}, running({L"System"}), "APPLICATION RUNNING"},
        {"a more dots than the process", {{"a", {"a.b.c"}}}, running({L"a.b"}), "+"},
        {"a nothing running", {{"a", {"setup"}}}, running({}), "+"},
        {"a second name matches", {{"a", {"notes", "setup"}}}, running({L"idle", L"SETUP.EXE"}),
         "APPLICATION RUNNING"},
        {"x 12 without Chrome", {{"x", 12}}, chrome(false, false, 0), "NO CHROME"},
        {"x 12 with Chrome", {{"x", 12}}, chrome(true, false, 0), "+"},
        {"x 13 with Chrome", {{"x", 13}}, chrome(true, false, 0), "HAVE CHROME"},
        {"x 13 without Chrome", {{"x", 13}}, chrome(false, false, 0), "+"},
        {"x 2 old IE", {{"x", 2}}, chrome(true, true, 8.0f), "OLD IE VERSION"},
        {"x 2 IE 8.99", {{"x", 2}}, chrome(true, true, 8.99f), "OLD IE VERSION"},
        {"x 2 IE 9", {{"x", 2}}, chrome(true, true, 9.0f), "+"},
        {"x 2 IE unknown", {{"x", 2}}, chrome(true, false, 0), "+"},
        {"x 2 without Chrome", {{"x", 2}}, chrome(false, true, 11.0f), "NO CHROME"},
        {"x 12 old IE is not asked", {{"x", 12}}, chrome(true, true, 6.0f), "+"},
    });
}

TEST_F(FilterTest, InstalledPrograms) {
    const auto registered = [](FactTable& f) { f.apps = {L"notes.exe", L"player.exe"}; };
    ExpectOutcomes({
        {"iapp all registered", {{"iapp", {"notes.exe", "player.exe"}}}, registered, "+"},
        {"iapp one missing", {{"iapp", {"notes.exe", "other.exe"}}}, registered, "REGISTRY INCLUDE APP NOT FOUND"},
        {"iapp compared exactly", {{"iapp", {"Notes.exe"}}}, registered, "REGISTRY INCLUDE APP NOT FOUND"},
        {"eapp registered", {{"eapp", {"other.exe", "player.exe"}}}, registered, "REGISTRY EXCLUDE APP FOUND"},
        {"eapp not registered", {{"eapp", {"other.exe"}}}, registered, "+"},
        {"iapp decides before eapp", {{"iapp", {"other.exe"}}, {"eapp", {"notes.exe"}}}, registered,
         "REGISTRY INCLUDE APP NOT FOUND"},
    });
}

TEST_F(FilterTest, RegistryKeysValuesAndData) {
    const auto machine = [](bool wow64) {
        return [=](FactTable& f) {
            f.wow64 = wow64;
            f.keys = {kVendorKey, L"hkey_current_user\\software\\vendor",
                      L"hkey_local_machine\\software\\wow6432node\\legacy\\app"};
            f.values = {{kVendorKey, L"mode"}};
            f.data = {{{kVendorKey, L"mode"}, L"on"}, {{kVendorKey, L"count"}, L"7"}};
        };
    };
    ExpectOutcomes({
        {"r present", {{"r", {"hklm\\software\\vendor"}}}, machine(true), "REGISTRY KEY EXISTS"},
        {"r lower-cased first", {{"r", {"HKLM\\Software\\VENDOR"}}}, machine(true), "REGISTRY KEY EXISTS"},
        {"r relative", {{"r", {"vendor"}}}, machine(false), "REGISTRY KEY EXISTS"},
        {"r absent", {{"r", {"hklm\\software\\other", "other"}}}, machine(true), "+"},
        {"r empty entry ends the list", {{"r", {"", "hklm\\software\\vendor"}}}, machine(true), "+"},
        {"r redirected branch under WOW64", {{"r", {"legacy\\app"}}}, machine(true), "REGISTRY KEY EXISTS"},
        {"r no redirected branch on 32-bit Windows", {{"r", {"legacy\\app"}}}, machine(false), "+"},
        {"ir one present", {{"ir", {"hklm\\software\\other", "hkcu\\software\\vendor"}}}, machine(true), "+"},
        {"ir none present", {{"ir", {"hklm\\software\\other"}}}, machine(true), "NONE OF THE REGISTRY KEYS EXISTS"},
        {"ir empty entry ends the list", {{"ir", {"", "vendor"}}}, machine(true), "NONE OF THE REGISTRY KEYS EXISTS"},
        {"rvn present", {{"rvn", {"hklm\\software\\vendor\\mode"}}}, machine(true), "REGISTRY VALUE EXISTS"},
        {"rvn relative", {{"rvn", {"vendor\\Mode"}}}, machine(false), "REGISTRY VALUE EXISTS"},
        {"rvn absent", {{"rvn", {"hklm\\software\\vendor\\other"}}}, machine(true), "+"},
        {"rvn empty entry ends the list", {{"rvn", {"", "vendor\\mode"}}}, machine(true), "+"},
        {"rvd matching string", {{"rvd", {"hklm\\software\\vendor\\mode\\ON"}}}, machine(true),
         "REGISTRY VALUE DATA MATCHES"},
        {"rvd other data", {{"rvd", {"hklm\\software\\vendor\\mode\\off"}}}, machine(true), "+"},
        {"rvd matching number", {{"rvd", {"vendor\\count\\7"}}}, machine(true), "REGISTRY VALUE DATA MATCHES"},
        {"rvd empty entry is skipped", {{"rvd", {"", "vendor\\mode\\on"}}}, machine(true),
         "REGISTRY VALUE DATA MATCHES"},
        {"rvd without a value name", {{"rvd", {"hku\\on"}}}, machine(true), "+"},
        {"keys are judged before values", {{"rvn", {"vendor\\mode"}}, {"ir", {"other"}}}, machine(true),
         "NONE OF THE REGISTRY KEYS EXISTS"},
    });
}

TEST_F(FilterTest, UninstallTimeAndPushNotificationDate) {
    const int64_t now = 1706702400;  // 2024-01-31 12:00 UTC
    const int64_t day = 86400;
    const auto stored = [=](std::wstring text) {
        return [=](FactTable& f) {
            f.now = now;
            f.texts[{L"hkey_local_machine", L"software\\vendor", L"removed"}] = text;
        };
    };
    const auto record = [](int32_t days, bool ms) {
        json r{{"utr", "HKEY_LOCAL_MACHINE"}, {"utk", "Software\\Vendor"}, {"utvn", "Removed"}, {"utvt", "s"},
               {"umd", days}};
        if (ms) r["utms"] = true;
        return json{{"cmdu", json::array({r})}};
    };
    const auto marker = [](std::wstring date) {
        return [=](FactTable& f) {
            f.today = L"20240131";
            if (!date.empty()) f.texts[{L"hkey_local_machine", L"SOFTWARE\\Vendor", L"Shown"}] = date;
        };
    };
    const json pushed{{"pn", true}, {"pnr", "SOFTWARE\\Vendor\\Shown"}};
    const json pushedWithoutName{{"pn", true}, {"pnr", "Shown"}};
    ExpectOutcomes({
        {"removed 3 days ago, 7 asked", record(7, false), stored(std::to_wstring(now - 3 * day)),
         "MIN DAYS UNINSTALL CHECKER"},
        {"removed 8 days ago, 7 asked", record(7, false), stored(std::to_wstring(now - 8 * day)), "+"},
        {"exactly 7 days ago", record(7, false), stored(std::to_wstring(now - 7 * day)), "+"},
        {"milliseconds, 3 days ago", record(7, true), stored(std::to_wstring((now - 3 * day) * 1000 + 999)),
         "MIN DAYS UNINSTALL CHECKER"},
        {"milliseconds, 8 days ago", record(7, true), stored(std::to_wstring((now - 8 * day) * 1000)), "+"},
        {"milliseconds read as seconds", record(7, false), stored(std::to_wstring((now - 8 * day) * 1000)),
         "MIN DAYS UNINSTALL CHECKER"},
        {"nothing stored", record(7, false), nullptr, "+"},
        // 49711 days overflow 32 bits and wrap to 63104 seconds.
        {"umd wraps to under a day", record(49711, false), stored(std::to_wstring(now - day)), "+"},
        {"umd 49711 wrapped, removed an hour ago", record(49711, false), stored(std::to_wstring(now - 3600)),
         "MIN DAYS UNINSTALL CHECKER"},
        // 24856 days wrap to about 68 years back: below 1970, which the
        // unsigned comparison sees as the far future.
        {"umd wraps below zero", record(24856, false), stored(std::to_wstring(now - day)),
         "MIN DAYS UNINSTALL CHECKER"},
        {"negative umd", record(-1, false), stored(std::to_wstring(now + 3600)), "+"},
        {"marker tomorrow", pushed, marker(L"20240201"), "PN NO SHOW"},
        {"marker today", pushed, marker(L"20240131"), "+"},
        {"marker yesterday", pushed, marker(L"20240130"), "+"},
        {"no marker", pushed, marker(L""), "+"},
        {"marker without pn", json{{"pnr", "SOFTWARE\\Vendor\\Shown"}}, marker(L"20991231"), "+"},
        {"pnr without a key path", pushedWithoutName, marker(L"20991231"), "+"},
        {"longer marker text", pushed, marker(L"202401310"), "PN NO SHOW"},
    });
}

// The order of the rules, whole: an offer that every rule refuses, after an
// accepted one, is judged again each time its first refusal is lifted, and
// each time the next rule in order gives the reason.
TEST_F(FilterTest, RulesAreAskedInTheirOrder) {
    const int64_t now = 1706702400;
    json settings{
        {"pn", true}, {"pnr", "SOFTWARE\\Vendor\\Shown"}, {"cfs", {{"mb", 0}}},
        {"v", 1}, {"exc", true}, {"r", {"hklm\\software\\vendor"}},
        {"disk", 5001}, {"ram", 8193}, {"cpu", 2401}, {"ov", 100}, {"pv", "4"}, {"win64", true},
        {"fe", {"C:\\present.txt"}}, {"ife", {"C:\\absent.txt"}}, {"a", {"setup"}}, {"iapp", {"other.exe"}},
        {"cmdu", json::array({{{"utr", "HKEY_LOCAL_MACHINE"}, {"utk", "Software\\Vendor"}, {"utvn", "Removed"},
                               {"utvt", "s"}, {"umd", 7}}})},
        {"x", 2},
    };
    FactTable machine;
    machine.disk.value = 5000;
    machine.memory.value = 8192;
    machine.processor.value = 2400;
    machine.windowsMajor = 6;
    machine.windowsMinor = 3;
    machine.wow64 = false;
    machine.paths = {L"C:\\present.txt"};
    machine.processes = {L"setup.exe"};
    machine.apps = {};
    machine.now = now;
    machine.texts[{L"hkey_local_machine", L"software\\vendor", L"removed"}] = std::to_wstring(now - 3 * 86400);
    machine.chrome = false;
    machine.ie = {true, 8.0f};
    machine.today = L"20240131";
    machine.texts[{L"hkey_local_machine", L"SOFTWARE\\Vendor", L"Shown"}] = L"20240201";
    machine.keys = {kVendorKey};

    // Each reason, and how the user's machine or the offer stops giving it.
    const std::vector<std::pair<std::string, std::function<void(json&, FactTable&)>>> steps = {
        {"SHOWED 1 PRODUCTS BUT ONLY 0", [](json& o, FactTable&) { o["cfs"].erase("mb"); }},
        {"SAME VERTICAL OFFER ALREADY PRESENT", [](json& o, FactTable&) { o["v"] = 2; }},
        {"EXCLUSIVE, BUT ANOTHER OFFER ALREADY PRESENT", [](json& o, FactTable&) { o.erase("exc"); }},
        {"REGISTRY KEY EXISTS", [](json& o, FactTable&) { o.erase("r"); }},
        {"NOT ENOUGH DISK SPACE", [](json& o, FactTable&) { o.erase("disk"); }},
        {"NOT ENOUGH RAM", [](json& o, FactTable&) { o.erase("ram"); }},
        {"NOT ENOUGH CPU", [](json& o, FactTable&) { o.erase("cpu"); }},
        {"UNSUPPORTED OS VERSION", [](json& o, FactTable&) { o.erase("ov"); }},
        {"UNSUPPORTED PLATFORM VERSION", [](json& o, FactTable&) { o.erase("pv"); }},
        {"64 BIT OS REQUIRED", [](json&, FactTable& f) { f.wow64 = true; }},
        {"FILE EXISTS", [](json& o, FactTable&) { o.erase("fe"); }},
        {"NONE OF THE FILES EXISTS", [](json& o, FactTable&) { o.erase("ife"); }},
        {"APPLICATION RUNNING", [](json&, FactTable& f) { f.processes.clear(); }},
        {"REGISTRY INCLUDE APP NOT FOUND", [](json& o, FactTable&) { o.erase("iapp"); }},
        {"MIN DAYS UNINSTALL CHECKER", [](json& o, FactTable&) { o.erase("cmdu"); }},
        {"NO CHROME", [](json&, FactTable& f) { f.chrome = true; }},
        {"OLD IE VERSION", [](json&, FactTable& f) { f.ie = {true, 11.0f}; }},
        {"PN NO SHOW", [](json& o, FactTable&) { o.erase("pn"); }},
    };
    for (const auto& [reason, lift] : steps) {
        auto facts = std::make_shared<FactTable>(machine);
        OfferFilter filter(5, facts, GetConfiguration());
        OfferFactory factory;
        const FilterRun run = RunOffers(filter, factory, {{"first", {{"v", 1}}}, {"second", settings}});
        ASSERT_EQ(run.outcomes.size(), 2u);
        EXPECT_EQ(run.outcomes[0], "+");
        EXPECT_EQ(run.outcomes[1].rfind(reason, 0), 0u) << "expected " << reason << ", got " << run.outcomes[1];
        lift(settings, machine);
    }
    auto facts = std::make_shared<FactTable>(machine);
    OfferFilter filter(5, facts, GetConfiguration());
    OfferFactory factory;
    EXPECT_EQ(RunOffers(filter, factory, {{"first", {{"v", 1}}}, {"second", settings}}).outcomes,
              (std::vector<std::string>{"+", "+"}))
        << "every refusal lifted";
}

TEST(UninstallDays, AreMultipliedIn32BitSignedArithmetic) {
    const std::pair<int32_t, int64_t> cases[] = {
        {0, 0},
        {7, 604800},
        {-1, -86400},
        {24855, 2147472000},
        {24856, -2147408896},
        {-24856, 2147408896},
        {49710, -23296},
        {49711, 63104},
        {2147483647, -86400},
        {-2147483647 - 1, 0},
    };
    for (const auto& [days, seconds] : cases) EXPECT_EQ(WrappedDaySeconds(days), seconds) << days;
}

TEST_F(FilterTest, UnreadableNumbersLeaveTheCheck) {
    auto facts = std::make_shared<FactTable>();
    facts->texts[{L"hkey_local_machine", L"software\\vendor", L"removed"}] = L"yesterday";
    OfferFilter filter(5, facts, GetConfiguration());
    OfferFactory factory;
    const json r{{"utr", "hkey_local_machine"}, {"utk", "software\\vendor"}, {"utvn", "removed"}, {"utvt", "s"},
                 {"umd", 1}};
    bool limit = false;
    EXPECT_THROW(filter.CheckOffer(factory.Make("A", {{"cmdu", json::array({r})}}, 0), limit, {}), std::invalid_argument);
    EXPECT_TRUE(factory.Events("A").empty());
}

// Which measurements an offer costs: only those its requirements name, and
// none for an offer that an in-memory rule rejects.
TEST_F(FilterTest, OnlyWhatAnOfferAsksIsMeasured) {
    const json cmdu = json::array(
        {{{"utr", "hkey_local_machine"}, {"utk", "software\\v"}, {"utvn", "t"}, {"utvt", "s"}, {"umd", 1}}});
    const struct {
        const char* what;
        json settings;
        std::multiset<std::string> probes;
    } cases[] = {
        {"nothing", json::object(), {}},
        {"zero requirements", {{"disk", 0}, {"ram", 0}, {"cpu", 0}, {"ov", 0}, {"pv", ""}, {"win64", false}}, {}},
        {"empty lists",
         {{"fe", json::array()}, {"ife", json::array()}, {"a", json::array()}, {"r", json::array()},
          {"ir", json::array()}, {"rvn", json::array()}, {"rvd", json::array()}, {"iapp", json::array()},
          {"eapp", json::array()}, {"cmdu", json::array()}},
         {}},
        {"pv needs no measurement", {{"pv", "1.0"}}, {}},
        {"disk", {{"disk", 1}}, {"FreeDiskSpaceMiB"}},
        {"ram", {{"ram", 1}}, {"TotalMemoryMiB"}},
        {"cpu", {{"cpu", 1}}, {"ProcessorSpeedMHz"}},
        {"x 1", {{"x", 1}}, {"FreeDiskSpaceMiB", "TotalMemoryMiB"}},
        {"ov", {{"ov", 61}}, {"IsWindowsAtLeast"}},
        {"unknown ov", {{"ov", 7}}, {}},
        {"win64", {{"win64", true}}, {"IsUnderWow64"}},
        {"fe", {{"fe", {"C:\\x"}}}, {"AnyPathExists"}},
        {"a", {{"a", {"x", "y"}}}, {"RunningProcesses"}},
        {"iapp", {{"iapp", {"x.exe"}}}, {"IsAppRegistered"}},
        {"r", {{"r", {"hklm\\software\\x"}}}, {"IsUnderWow64", "KeyExists"}},
        {"rvn", {{"rvn", {"hklm\\software\\x\\v"}}}, {"IsUnderWow64", "ValueExists"}},
        {"cmdu", {{"cmdu", cmdu}}, {"ReadValueAsText"}},
        {"x 12", {{"x", 12}}, {"ChromePresent"}},
        {"x 2", {{"x", 2}}, {"ChromePresent", "InternetExplorerVersion"}},
        {"pn without marker", {{"pn", true}, {"pnr", "SOFTWARE\\V\\d"}}, {"ReadValueAsText"}},
    };
    for (const auto& c : cases) {
        auto facts = std::make_shared<FactTable>();
        facts->chrome = true;
        OfferFilter filter(5, facts, GetConfiguration());
        OfferFactory factory;
        bool limit = false;
        filter.CheckOffer(factory.Make("A", c.settings, 0), limit, {});
        EXPECT_EQ(facts->calls, c.probes) << c.what;
    }
}

TEST_F(FilterTest, InMemoryRulesRejectBeforeAnyMeasurement) {
    const json costly{{"v", 1},
                      {"disk", 1},
                      {"ram", 1},
                      {"cpu", 1},
                      {"ov", 61},
                      {"win64", true},
                      {"r", {"vendor"}},
                      {"fe", {"C:\\x"}},
                      {"a", {"x"}},
                      {"iapp", {"x.exe"}},
                      {"x", 2}};
    auto facts = std::make_shared<FactTable>();
    OfferFilter filter(5, facts, GetConfiguration());
    OfferFactory factory;
    const FilterRun run = RunOffers(filter, factory, {{"A", {{"v", 1}}}, {"B", costly}});
    EXPECT_EQ(run.outcomes, (std::vector<std::string>{"+", "SAME VERTICAL OFFER ALREADY PRESENT"}));
    EXPECT_TRUE(facts->calls.empty());
}

TEST_F(FilterTest, MeasurementsAreAskedAgainForEachOffer) {
    // The filter leaves caching to the facts: it asks every offer's question.
    auto facts = std::make_shared<FactTable>();
    OfferFilter filter(5, facts, GetConfiguration());
    OfferFactory factory;
    RunOffers(filter, factory, {{"A", {{"v", 1}, {"ram", 1}}}, {"B", {{"v", 2}, {"ram", 1}}}});
    EXPECT_EQ(facts->calls.count("TotalMemoryMiB"), 2u);
}

struct SequenceCase {
    const char* what;
    int32_t maxOffers;
    int allowance;
    std::vector<std::pair<std::string, json>> offers;
    std::vector<std::string> outcomes;
    int allowanceAfter;
};

json Push(const json& cfs, json more = json::object()) {
    more["pn"] = true;
    more["cfs"] = cfs;
    return more;
}

TEST_F(FilterTest, LimitVerticalsExclusivityAndShowOrder) {
    const std::string a = EncodeId("A"), x = EncodeId("X");
    const SequenceCase cases[] = {
        {"no offers allowed", 0, 0, {{"A", {{"v", 1}}}}, {"LIMIT"}, 0},
        {"limit of two", 2, 0, {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}}, {"+", "+", "LIMIT"}, 0},
        {"a skippable second offer makes room",
         2,
         0,
         {{"A", {{"v", 1}}}, {"B", Push({{"sied", true}}, {{"v", 2}})}, {"C", {{"v", 3}}}, {"D", {{"v", 4}}}},
         {"+", "+", "+", "LIMIT"},
         1},
        {"a skippable first offer makes no room",
         2,
         0,
         {{"A", Push({{"sied", true}}, {{"v", 1}})}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}},
         {"+", "+", "LIMIT"},
         0},
        {"rejections past the plain limit are not reported",
         2,
         0,
         {{"A", {{"v", 1}}}, {"B", Push({{"sied", true}}, {{"v", 2}})}, {"C", {{"v", 1}}}, {"D", {{"v", 4}}},
          {"E", {{"v", 5}}}},
         {"+", "+", "-", "+", "LIMIT"},
         1},
        {"allowance granted before the run", 1, 1, {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}},
         {"+", "+", "LIMIT"}, 1},
        {"two offers without v", 5, 0, {{"A", json::object()}, {"B", json::object()}},
         {"+", "SAME VERTICAL OFFER ALREADY PRESENT"}, 0},
        {"two offers with v -1", 5, 0, {{"A", {{"v", -1}}}, {"B", {{"v", -1}}}},
         {"+", "MULTIPLE OFFERS W/O VERTICAL"}, 0},
        {"different verticals", 5, 0, {{"A", {{"v", 3}}}, {"B", {{"v", 4}}}}, {"+", "+"}, 0},
        {"a rejected offer takes no vertical", 5, 0,
         {{"A", {{"v", 3}, {"ov", 64}}}, {"B", {{"v", 3}}}}, {"UNSUPPORTED OS VERSION", "+"}, 0},
        {"exclusive first ends the list", 5, 0, {{"A", {{"exc", true}, {"v", 1}}}, {"B", {{"v", 2}}}}, {"+"}, 0},
        {"exclusive second", 5, 0, {{"A", {{"v", 1}}}, {"B", {{"exc", true}, {"v", 2}}}},
         {"+", "EXCLUSIVE, BUT ANOTHER OFFER ALREADY PRESENT"}, 0},
        {"mb below the count", 5, 0,
         {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", Push({{"mb", 1}}, {{"v", 3}})}},
         {"+", "+", "SHOWED 2 PRODUCTS BUT ONLY 1 ALLOWED BEFORE"}, 0},
        {"mb equal to the count", 5, 0, {{"A", {{"v", 1}}}, {"B", Push({{"mb", 1}}, {{"v", 2}})}}, {"+", "+"}, 0},
        {"ab lists A only", 5, 0,
         {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", Push({{"ab", {a}}}, {{"v", 3}})}},
         {"+", "+", "NOT ALLOWED AFTER B"}, 0},
        {"ab lists neither", 5, 0,
         {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", Push({{"ab", {x}}}, {{"v", 3}})}},
         {"+", "+", "NOT ALLOWED AFTER A,B"}, 0},
        {"ab ignored without pn", 5, 0,
         {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", {{"v", 3}, {"cfs", {{"ab", {a}}}}}}}, {"+", "+", "+"}, 0},
        {"ab as the first offer", 5, 0, {{"C", Push({{"ab", {x}}}, {{"v", 3}})}}, {"+"}, 0},
        {"ma of 1 reached", 5, 0,
         {{"A", Push({{"ma", 1}}, {{"v", 1}})}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}},
         {"+", "+", "ONLY 1 PRODUCTS ALLOWED TO BE SHOWN AFTER A"}, 0},
        {"ma of 1 with an allowance", 5, 1,
         {{"A", Push({{"ma", 1}}, {{"v", 1}})}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}}, {"+", "+", "+"}, 1},
        {"ma of 0", 5, 0, {{"A", Push({{"ma", 0}}, {{"v", 1}})}, {"B", {{"v", 2}}}},
         {"+", "ONLY 0 PRODUCTS ALLOWED TO BE SHOWN AFTER A"}, 0},
        {"negative ma never rejects", 5, 0,
         {{"A", Push({{"ma", -1}}, {{"v", 1}})}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}}, {"+", "+", "+"}, 0},
        {"aa without the offer", 5, 0,
         {{"A", Push({{"aa", {x}}}, {{"v", 1}})}, {"B", Push({{"aa", {x}}}, {{"v", 2}})}, {"C", {{"v", 3}}}},
         {"+", "NOT ALLOWED AFTER A", "NOT ALLOWED AFTER A"}, 0},
        {"aa with the offer", 5, 0, {{"A", Push({{"aa", {x}}}, {{"v", 1}})}, {"X", {{"v", 2}}}}, {"+", "+"}, 0},
        {"aa ignored with an allowance", 5, 1, {{"A", Push({{"aa", {x}}}, {{"v", 1}})}, {"B", {{"v", 2}}}},
         {"+", "+"}, 1},
        {"show order before vertical", 5, 0, {{"A", {{"v", 1}}}, {"B", Push({{"mb", 0}}, {{"v", 1}})}},
         {"+", "SHOWED 1 PRODUCTS BUT ONLY 0 ALLOWED BEFORE"}, 0},
    };
    for (const SequenceCase& c : cases) {
        config_->extraOfferAllowance = c.allowance;
        OfferFilter filter(c.maxOffers, std::make_shared<FactTable>(), GetConfiguration());
        OfferFactory factory;
        const FilterRun run = RunOffers(filter, factory, c.offers);
        EXPECT_EQ(run.outcomes, c.outcomes) << c.what;
        EXPECT_EQ(config_->extraOfferAllowance, c.allowanceAfter) << c.what;
    }
}

TEST_F(FilterTest, ALimitNearTheTopOfTheRangeDoesNotOverflow) {
    config_->extraOfferAllowance = 1;
    OfferFilter filter(2147483647, std::make_shared<FactTable>(), GetConfiguration());
    OfferFactory factory;
    const FilterRun run = RunOffers(filter, factory, {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}});
    EXPECT_EQ(run.outcomes, (std::vector<std::string>{"+", "+"}));
}

}  // namespace
