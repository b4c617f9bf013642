#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "api/Package.h"
#include "common/RecordingEnvironment.h"
#include "common/TestEnvironment.h"
#include "util/Base62.h"
#include "util/Digest.h"
#include "util/Handles.h"
#include "util/TamselException.h"

using nlohmann::json;

namespace {

// The shared fixed facts with no endpoints, plus a campaign, a brand and a
// folder placeholder of their own.
PackageEnvironment TestEnvironment() {
    PackageEnvironment env = RecordingEnvironment(nullptr);
    env.eventEndpointUrl.clear();
    env.fileEndpointUrl.clear();
    env.remoteL = "DE";
    env.remoteFa = "pub7";
    env.productCb = "1";
    env.brand = L"Harlix";
    env.appId = L"Harlix_DLM";
    env.expandFolders = [](const std::wstring& text) {
        std::wstring out = text;
        const std::wstring key = L"{commonpf}";
        for (size_t at = out.find(key); at != std::wstring::npos; at = out.find(key, at))
            out.replace(at, key.size(), L"C:\\Program Files");
        return out;
    };
    return env;
}

json Element(const json& settings = json::object()) {
    json ps{{"i", "images/x.png"}, {"dn", "Notes"}, {"u", "https://example.test/notes.exe"}};
    ps.update(settings);
    return json{{"ad", {{"o", "offer-1"}, {"f", "feed-9"}}}, {"ps", ps}};
}

std::shared_ptr<Package> Offer(const json& element, PackageEnvironment env = TestEnvironment(),
                               int32_t position = 0) {
    SignedRequest request;
    request.body = json::object();
    return Package::CreateOffer(request, element, "", position, std::move(env));
}

std::set<std::string> Keys(const TrackingParameters& map) {
    std::set<std::string> keys;
    for (const auto& item : map) keys.insert(item.first);
    return keys;
}

}  // namespace

TEST(PackageParsing, BrokenElementsFailTheWholePackage) {
    json noAd = Element();
    noAd.erase("ad");
    json noName = Element();
    noName["ps"].erase("dn");
    json noOfferId = Element();
    noOfferId["ad"].erase("o");
    json noSettings = Element();
    noSettings.erase("ps");
    const struct {
        const char* what;
        json element;
    } cases[] = {
        {"no ad", noAd},
        {"no dn", noName},
        {"no ad.o", noOfferId},
        {"no ps", noSettings},
        {"element not an object", json::array({1, 2})},
        {"ad not an object", json{{"ad", "x"}, {"ps", Element()["ps"]}}},
        {"dn a number", Element({{"dn", 5}})},
        {"v a string", Element({{"v", "3"}})},
        {"exc given as a number", Element({{"exc", 1}})},
        {"disk a string", Element({{"disk", "100"}})},
        {"fe not an array", Element({{"fe", "C:\\x"}})},
        {"fe holding a number", Element({{"fe", {1}}})},
        {"r holding null", Element({{"r", {nullptr}}})},
        {"x a string", Element({{"x", "3"}})},
        {"cmdu record without umd", Element({{"cmdu", {{{"utr", "a"}, {"utk", "b"}, {"utvn", "c"}, {"utvt", "d"}}}}})},
        {"cmdu umd a string",
         Element({{"cmdu", {{{"utr", "a"}, {"utk", "b"}, {"utvn", "c"}, {"utvt", "d"}, {"umd", "7"}}}}})},
        {"cmdu not an array", Element({{"cmdu", json::object()}})},
        {"cfs not an object", Element({{"pn", true}, {"cfs", 3}})},
        {"cfs mb a string", Element({{"pn", true}, {"cfs", {{"mb", "x"}}}})},
        {"pnrp chosen value a number", Element({{"pn", true}, {"pnrp", {{"10.0", 5}}}})},
        {"pnrp default a number", Element({{"pn", true}, {"pnrp", {{"default", false}}}})},
        // "default" must be a string even when the version's own value is chosen.
        {"pnrp default a number beside the chosen value",
         Element({{"pn", true}, {"pnrp", {{"10.0", "ten"}, {"default", 5}}}})},
        {"pnrp default null beside the chosen value",
         Element({{"pn", true}, {"pnrp", {{"10.0", "ten"}, {"default", nullptr}}}})},
        // Numbers that do not fit their member count as the wrong type.
        {"v of 1e20", Element({{"v", 1e20}})},
        {"v of 2^32", Element({{"v", 4294967296LL}})},
        {"ov below the int range", Element({{"ov", -2147483649LL}})},
        {"disk of -1", Element({{"disk", -1}})},
        {"ram of -0.5e3", Element({{"ram", -500.0}})},
        {"cpu of 1e30", Element({{"cpu", 1e30}})},
        {"umd of 3e9",
         Element({{"cmdu", {{{"utr", "a"}, {"utk", "b"}, {"utvn", "c"}, {"utvt", "d"}, {"umd", 3e9}}}}})},
        {"x of 1e30", Element({{"x", 1e30}})},
        {"mb of 2^31", Element({{"pn", true}, {"cfs", {{"mb", 2147483648LL}}}})},
        // A digest that is not 64 hex digits is a value of the wrong type.
        {"sha256 a number", Element({{"sha256", 5}})},
        {"sha256 null", Element({{"sha256", nullptr}})},
        {"sha256 empty", Element({{"sha256", ""}})},
        {"sha256 of 63 digits", Element({{"sha256", std::string(63, 'a')}})},
        {"sha256 of 65 digits", Element({{"sha256", std::string(65, 'a')}})},
        {"sha256 with a non-hex letter", Element({{"sha256", std::string(63, 'a') + "g"}})},
    };
    for (const auto& c : cases) EXPECT_THROW(Offer(c.element), json::exception) << c.what;
}

TEST(PackageParsing, ValuesDefaultsAndPresets) {
    auto plain = Offer(Element());
    EXPECT_EQ(plain->offerId, "offer-1");
    EXPECT_EQ(plain->feedId, "feed-9");
    EXPECT_EQ(plain->displayName, "Notes");
    EXPECT_EQ(plain->imagePath, "images/x.png");
    EXPECT_EQ(plain->GetDownloadUrl(), L"https://example.test/notes.exe");
    EXPECT_EQ(plain->vertical.load(), 0);
    EXPECT_EQ(plain->parameters, "");
    EXPECT_EQ(plain->cValue, "");
    EXPECT_FALSE(plain->exclusive);
    EXPECT_FALSE(plain->isMain);

    const struct {
        const char* what;
        json settings;
        int32_t vertical;
        uint64_t disk, ram, cpu;
        bool win64, chromeRequired, chromeAbsent, ieCheck;
    } cases[] = {
        {"v true", {{"v", true}}, 1, 0, 0, 0, false, false, false, false},
        {"v -1", {{"v", -1}}, -1, 0, 0, 0, false, false, false, false},
        {"v 2.7 truncated", {{"v", 2.7}}, 2, 0, 0, 0, false, false, false, false},
        {"largest values", {{"v", 2147483647}, {"disk", 18446744073709551615ULL}}, 2147483647,
         18446744073709551615ULL, 0, 0, false, false, false, false},
        {"disk as a float", {{"disk", 1e3}}, 0, 1000, 0, 0, false, false, false, false},
        {"x 1", {{"x", 1}, {"ram", 8000}}, 0, 2500, 250, 0, false, false, false, false},
        {"x 2", {{"x", 2}}, 0, 0, 0, 0, false, true, false, true},
        {"x 3 wins over disk", {{"x", 3}, {"disk", 100}}, 0, 512, 1536, 1500, false, false, false, false},
        {"x 5 changes nothing", {{"x", 5}, {"disk", 100}}, 0, 100, 0, 0, false, false, false, false},
        {"x 10", {{"x", 10}}, 0, 0, 0, 0, true, false, false, false},
        {"x 12", {{"x", 12}}, 0, 0, 0, 0, false, true, false, false},
        {"x 13", {{"x", 13}, {"win64", true}}, 0, 0, 0, 0, true, false, true, false},
    };
    for (const auto& c : cases) {
        auto p = Offer(Element(c.settings));
        EXPECT_EQ(p->vertical.load(), c.vertical) << c.what;
        EXPECT_EQ(p->disk, c.disk) << c.what;
        EXPECT_EQ(p->ram, c.ram) << c.what;
        EXPECT_EQ(p->cpu, c.cpu) << c.what;
        EXPECT_EQ(p->win64, c.win64) << c.what;
        EXPECT_EQ(p->chromeRequired, c.chromeRequired) << c.what;
        EXPECT_EQ(p->chromeAbsent, c.chromeAbsent) << c.what;
        EXPECT_EQ(p->ieCheck, c.ieCheck) << c.what;
    }
}

TEST(PackageParsing, DigestIsOptionalAndKeptAsGiven) {
    EXPECT_EQ(Offer(Element())->sha256, "") << "older configurations state none";
    const std::string lower(64, 'e'), mixed = std::string(32, 'A') + std::string(32, '9');
    EXPECT_EQ(Offer(Element({{"sha256", lower}}))->sha256, lower);
    EXPECT_EQ(Offer(Element({{"sha256", mixed}}))->sha256, mixed);
}

TEST(PackageParsing, ListsAreWidenedAndExpanded) {
    auto p = Offer(Element({
        {"fe", {"{commonpf}\\Vendor\\app.exe", "{localappdata}\\x"}},
        {"ife", {"C:\\y"}},
        {"a", {"Setup.exe"}},
        {"r", {"vendor\\caf\xc3\xa9"}},
        {"iapp", {"\xe6\x97\xa5.exe"}},
        {"cmdu",
         {{{"utr", "hkey_current_user"}, {"utk", "software\\v"}, {"utvn", "t"}, {"utvt", "s"}, {"umd", 7},
           {"utms", true}}}},
        {"exc", true},
        {"ov", 61},
        {"pv", "3.2"},
    }));
    EXPECT_EQ(p->filesExcluded, (std::vector<std::wstring>{L"C:\\Program Files\\Vendor\\app.exe", L"{localappdata}\\x"}));
    EXPECT_EQ(p->filesIncluded, std::vector<std::wstring>{L"C:\\y"});
    EXPECT_EQ(p->applications, std::vector<std::string>{"Setup.exe"});
    EXPECT_EQ(p->registryExcluded, std::vector<std::wstring>{L"vendor\\caf\u00e9"});
    EXPECT_EQ(p->appsIncluded, std::vector<std::wstring>{L"\u65e5.exe"});
    ASSERT_EQ(p->registryCommands.size(), 1u);
    EXPECT_EQ(p->registryCommands[0].utk, L"software\\v");
    EXPECT_EQ(p->registryCommands[0].umd, 7);
    EXPECT_TRUE(p->registryCommands[0].utms);
    EXPECT_TRUE(p->exclusive);
    EXPECT_EQ(p->osRule, 61);
    EXPECT_EQ(p->versionRule, "3.2");
}

TEST(TrackingParameters, KeysForPresentAndEmptyMachineIdentifier) {
    auto p = Offer(Element());
    EXPECT_EQ(Keys(p->trackingParameters),
              (std::set<std::string>{"userid", "sessionid", "cc", "pubid", "ispb", "aflt", "account_md5", "pxl", "of"}));
    EXPECT_EQ(p->trackingParameters["pxl"], EncodeId("c0ffee00-1111-2222-3333-444455556666|offer-1|20261210093000"));
    EXPECT_EQ(p->trackingParameters["of"], "feed-9");
    EXPECT_EQ(p->trackingParameters["account_md5"], Md5Hex(L"Harlix"));

    PackageEnvironment bare = TestEnvironment();
    bare.machineGuid.clear();
    bare.remoteL.clear();
    bare.remoteFa.clear();
    bare.productCb.clear();
    bare.brand.clear();
    auto q = Offer(Element(), bare);
    EXPECT_EQ(Keys(q->trackingParameters), (std::set<std::string>{"sessionid", "aflt", "pxl", "of"}));
    EXPECT_EQ(q->trackingParameters["pxl"], EncodeId("|offer-1|20261210093000"));
    EXPECT_EQ(q->trackingParameters["aflt"], "91082");
}

TEST(TrackingParameters, OfferTextsAreExpanded) {
    auto p = Offer(Element({
        {"u", "https://x.test/{userid}/{userid}?cc={cc}&none={nosuchkey}"},
        {"p", "/pub={pubid}"},
        {"c", "ch-{of}"},
    }));
    EXPECT_EQ(p->downloadUrl, "https://x.test/c0ffee00-1111-2222-3333-444455556666/"
                              "c0ffee00-1111-2222-3333-444455556666?cc=DE&none={nosuchkey}");
    EXPECT_EQ(p->parameters, "/pub=pub7");
    EXPECT_EQ(p->cValue, "ch-feed-9");

    // A value holding its own placeholder is inserted once, not forever.
    auto self = Offer(Element({{"pn", true}, {"pnop", "a{pnop}b"}, {"p", "[{pnop}]"}}));
    EXPECT_EQ(self->parameters, "[a{pnop}b]");

    // Texts that would grow without bound fail the package instead.
    std::string doubling = "{pnop}";
    for (int i = 0; i < 12; ++i) doubling += doubling;
    EXPECT_ANY_THROW(Offer(Element({{"pn", true}, {"pnop", std::string(4096, 'x')}, {"p", doubling}})));
}

TEST(TrackingParameters, ExpansionCases) {
    // "pnop" ends with the start of its own placeholder.
    auto p = Offer(Element({{"pn", true}, {"pnop", "x{pno"}}));
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"{cc}", "DE"},
        {"{cc}{cc}{of}", "DEDEfeed-9"},
        {"a{cc}b{of}c", "aDEbfeed-9c"},
        {"{{cc}}", "{DE}"},
        {"{cc", "{cc"},
        {"cc}", "cc}"},
        {"{CC} {c c} {nosuchkey}", "{CC} {c c} {nosuchkey}"},
        // The inserted value and the text after it form a placeholder: not
        // expanded, since each replacement resumes after what it inserted.
        {"{pnop}p}", "x{pnop}"},
        {"{pnop}p}{pnop}", "x{pnop}x{pno"},
    };
    for (const auto& [text, expanded] : cases) EXPECT_EQ(p->ExpandParameters(text), expanded) << text;
}

TEST(TrackingParameters, ExpansionIsBoundedAtOneMiB) {
    const size_t limit = size_t{1} << 20;
    auto p = Offer(Element({{"pn", true}, {"pnop", std::string(1024, 'x')}}));
    // 1000 placeholders grow by 1018 characters each.
    std::string placeholders;
    for (int i = 0; i < 1000; ++i) placeholders += "{pnop}";
    const size_t fill = limit - 1000 * 1024;
    const std::string atLimit = std::string(fill / 2, 'a') + placeholders + std::string(fill - fill / 2, 'b');
    EXPECT_EQ(p->ExpandParameters(atLimit).size(), limit);
    EXPECT_THROW(p->ExpandParameters(atLimit + "c"), TamselException);
    // Only growth is bounded: shorter values shrink a longer text.
    std::string ccs;
    for (size_t i = 0; i < limit; ++i) ccs += "{cc}";
    std::string des;
    for (size_t i = 0; i < limit; ++i) des += "DE";
    EXPECT_EQ(p->ExpandParameters(ccs), des);
    const std::string plain(4 * limit, 'z');
    EXPECT_EQ(p->ExpandParameters(plain), plain);
}

TEST(PushNotification, BlockOnAndOff) {
    auto off = Offer(Element({{"pn", false}, {"pnop", "ignored"}, {"cfs", {{"mb", 1}}}}));
    for (const char* key : {"pnrparam", "pnstubparams", "pnapiurl", "pnapikey", "pnop", "account", "installer", "pnsid"})
        EXPECT_EQ(off->trackingParameters.count(key), 0u) << key;
    EXPECT_EQ(off->flow.mb, 2147483647);
    EXPECT_EQ(off->flow.ma, 2147483647);
    EXPECT_EQ(off->flow.mo, 2147483647);
    EXPECT_TRUE(off->flow.ab.empty());
    EXPECT_FALSE(off->flow.sied);
    EXPECT_EQ(off->push.pnop, "");

    auto on = Offer(Element({{"pn", true},
                             {"pnau", "https://pn.test/api"},
                             {"pnak", "key-1"},
                             {"pnr", "software\\vendor\\{of}\\next"},
                             {"pnop", "opt"},
                             {"pnsi", true},
                             {"la", "hello"},
                             {"pnrp", {{"10.0", "win10"}, {"default", "other"}}},
                             {"sp", "--p={pnrparam} --u={userid}"},
                             {"cfs", {{"mb", 1}, {"ab", {"x1"}}, {"sied", true}}}}));
    EXPECT_TRUE(on->push.pn);
    EXPECT_EQ(on->push.pnr, "software\\vendor\\feed-9\\next");
    EXPECT_EQ(on->push.sp, "--p=win10 --u=c0ffee00-1111-2222-3333-444455556666");
    EXPECT_TRUE(on->push.pnsi);
    EXPECT_EQ(on->push.la, "hello");
    const std::pair<const char*, const char*> expected[] = {
        {"pnrparam", "win10"}, {"pnstubparams", "--p=win10 --u=c0ffee00-1111-2222-3333-444455556666"},
        {"pnapiurl", "https://pn.test/api"}, {"pnapikey", "key-1"}, {"pnop", "opt"},
        {"account", "Harlix"}, {"installer", "Harlix_DLM"}, {"pnsid", "1765359000123"}};
    for (const auto& [key, value] : expected) EXPECT_EQ(on->trackingParameters[key], value) << key;
    EXPECT_EQ(on->flow.mb, 1);
    EXPECT_EQ(on->flow.ab, std::vector<std::string>{"x1"});
    EXPECT_EQ(on->flow.ma, 2147483647);
    EXPECT_TRUE(on->flow.sied);
}

TEST(PushNotification, ParameterChosenByWindowsVersion) {
    const struct {
        const char* version;
        json pnrp;
        const char* chosen;
    } cases[] = {
        {"10.0", {{"10.0", "ten"}, {"default", "d"}}, "ten"},
        {"6.1", {{"10.0", "ten"}, {"default", "d"}}, "d"},
        {"6.1", {{"10.0", "ten"}}, ""},
        {"", {{"default", "d"}}, "d"},
        {"6.1", {{"6.1", "seven"}, {"default", "d"}}, "seven"},
        {"10.0", {{"10.0", ""}, {"default", "d"}}, ""},
        {"10.0", json::array({"ten"}), ""},                     // not an object
        {"10.0", "ten", ""},
    };
    for (const auto& c : cases) {
        PackageEnvironment env = TestEnvironment();
        env.windowsMajorMinor = c.version;
        auto p = Offer(Element({{"pn", true}, {"pnrp", c.pnrp}}), env);
        EXPECT_EQ(p->trackingParameters["pnrparam"], c.chosen) << c.pnrp.dump() << " on " << c.version;
    }
    auto absent = Offer(Element({{"pn", true}}));
    EXPECT_EQ(absent->trackingParameters["pnrparam"], "");
}

TEST(PackageEvents, TemplateAndBodyOfOfferAndMainProduct) {
    SignedRequest request;
    request.body = json::object();
    for (int key = 0; key <= 22; ++key) request.body[std::to_string(key)] = "";
    request.body["22"] = "Tamsel Demo App";
    request.body["31"] = "10.0.19045";
    request.body["38"] = "1";

    auto second = Package::CreateOffer(request, Element({{"c", "notes"}}), "", 1, TestEnvironment());
    const json body = second->BuildEventBody(2, json{{"13", "FILE EXISTS"}});
    EXPECT_EQ(body["6"], "2");
    EXPECT_EQ(body["5"], "offer-1");
    EXPECT_EQ(body["10"], 2);
    EXPECT_EQ(body["16"], "notes");
    EXPECT_EQ(body["17"], "2");
    EXPECT_EQ(body["18"], "feed-9");
    EXPECT_EQ(body["13"], "FILE EXISTS");
    // The override lives in that event only.
    EXPECT_EQ(second->BuildEventBody(5, nullptr)["13"], "");
    EXPECT_EQ(body.size(), 25u);

    auto main = Package::CreateMain(request, L"", L"", L"", L"", TestEnvironment());
    const json mainBody = main->BuildEventBody(1, nullptr);
    EXPECT_EQ(mainBody["5"], "Tamsel Demo App");
    EXPECT_EQ(mainBody["10"], 1);
    EXPECT_EQ(mainBody["16"], "");
    EXPECT_EQ(mainBody["17"], "");
    EXPECT_EQ(mainBody["18"], "");
    EXPECT_TRUE(main->trackingParameters.empty());

    // Re-initialised once the configuration has arrived.
    request.body["22"] = "Renamed";
    main->Reinitialise(request, L"Renamed", L"Renamed", L"feed", L"ch");
    EXPECT_EQ(main->BuildEventBody(1, nullptr)["5"], "Renamed");
    EXPECT_EQ(main->feedId, "feed");
    EXPECT_TRUE(main->isMain);
}

TEST(DateMarker, WrittenUnderLocalMachineAsTheDate180DaysAhead) {
    // What the local calendar says 180 days from now, by the system's own route.
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart += 180ULL * 86400ULL * 10000000ULL;
    FILETIME later{t.LowPart, t.HighPart}, local;
    SYSTEMTIME day;
    ASSERT_TRUE(::FileTimeToLocalFileTime(&later, &local));
    ASSERT_TRUE(::FileTimeToSystemTime(&local, &day));
    const DWORD expected = day.wYear * 10000u + day.wMonth * 100u + day.wDay;

    const std::wstring key = L"SOFTWARE\\TamselTest\\Marker";
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), testenv::kDefaultView, 0);
    auto p = Offer(Element({{"pn", true}, {"pnr", "SOFTWARE\\TamselTest\\Marker\\next_{of}"}}));
    ASSERT_TRUE(p->WriteDateMarker());

    HKEY opened = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | testenv::kDefaultView, &opened),
              ERROR_SUCCESS);
    const tamsel::RegKey marker(opened);
    DWORD value = 0, size = sizeof value, type = 0;
    ASSERT_EQ(::RegGetValueW(marker.Get(), nullptr, L"next_feed-9", RRF_RT_REG_DWORD, &type, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, expected);
    EXPECT_EQ(std::to_wstring(value).size(), 8u);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), testenv::kDefaultView, 0);

    // Paths that name no key write nothing.
    for (const char* pnr : {"no-backslash", "\\only-a-name", ""}) {
        auto q = Offer(Element({{"pn", true}, {"pnr", pnr}}));
        EXPECT_FALSE(q->WriteDateMarker()) << pnr;
    }
    EXPECT_FALSE(Offer(Element())->WriteDateMarker());
}

namespace {

// An event whose first attempt fails waits 5 s before its second; the main
// package is re-initialised meanwhile. Both attempts carry what was reported.
TEST(PackageEventsInFlight, AnEventKeepsItsTextsWhileThePackageIsReinitialised) {
    struct Attempts {
        std::mutex lock;
        std::condition_variable arrived;
        std::vector<std::string> documents;
    };
    auto attempts = std::make_shared<Attempts>();
    PackageEnvironment env = TestEnvironment();
    env.post = [attempts](const std::wstring&, const std::string& document, const std::vector<HttpHeader>&,
                          std::string&, int32_t& status) {
        std::lock_guard<std::mutex> guard(attempts->lock);
        attempts->documents.push_back(document);
        status = attempts->documents.size() == 1 ? 500 : 200;
        attempts->arrived.notify_all();
        return true;
    };
    SignedRequest request;
    request.body = json::object();
    auto main = Package::CreateMain(request, L"", L"", L"", L"", env);
    main->SendEvent(1);
    {
        std::unique_lock<std::mutex> guard(attempts->lock);
        ASSERT_TRUE(attempts->arrived.wait_for(guard, std::chrono::seconds(30),
                                               [&] { return !attempts->documents.empty(); }));
    }
    SignedRequest later;
    later.body = json{{"22", "Product"}};  // the title, once the configuration has arrived
    main->Reinitialise(later, L"Product", L"Product", L"feed", L"c");
    main->WaitForEvents();
    ASSERT_EQ(attempts->documents.size(), 2u);
    EXPECT_EQ(attempts->documents[1], attempts->documents[0]);
    const json body = json::parse(json::parse(attempts->documents[1]).at("data").get<std::string>());
    EXPECT_EQ(body.at("5"), "") << "the texts of when it was reported";
    EXPECT_EQ(main->BuildEventBody(3, nullptr).at("5"), "Product");
}

}  // namespace
