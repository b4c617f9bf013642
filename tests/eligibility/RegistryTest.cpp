// The registry layer against the prefix's real registry: under WOW64 (two
// branches, 64-bit view flags), on a 32-bit Windows (one branch), and in the
// 64-bit test build (two branches, but it never looks into the 32-bit one).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "TestRegistry.h"
#include "common/TestEnvironment.h"
#include "eligibility/MachineFacts.h"
#include "eligibility/Registry.h"

namespace {

using testreg::ScopedKey;
using testreg::Unique;

bool Wow64Prefix() { return testenv::Config() == "wow64"; }
// The 64-bit test build has no Wow6432Node candidates and its default view is
// the 64-bit branch: keys that only the 32-bit branch holds are never found.
bool SeesThe32BitBranch() { return !testenv::kIs64BitProcess; }

TEST(RegistryLayer, ThePrefixIsTheOneTheRunnerNamed) { EXPECT_EQ(testenv::IsWow64(), Wow64Prefix()); }

struct ExpandCase {
    const wchar_t* path;
    bool wow64;
    std::vector<std::wstring> candidates;
};

TEST(RegistryLayer, ExpandKeyPathGivesTheCandidatesInOrder) {
    const std::wstring hklm = L"hkey_local_machine\\software\\";
    const std::wstring hkcu = L"hkey_current_user\\software\\";
    const std::wstring hklm32 = L"hkey_local_machine\\software\\wow6432node\\";
    const std::wstring hkcu32 = L"hkey_current_user\\software\\wow6432node\\";
    const ExpandCase cases[] = {
        {L"", false, {}},
        {L"", true, {}},
        {L"hklm\\software\\x", true, {L"hkey_local_machine\\software\\x"}},
        {L"hklm\\software\\x", false, {L"hkey_local_machine\\software\\x"}},
        {L"hkey_users\\s-1-5-18\\x", true, {L"hkey_users\\s-1-5-18\\x"}},
        {L"hkey_current_config\\x", false, {L"hkey_current_config\\x"}},
        {L"hkcu\\x", true, {L"hkey_current_user\\x"}},
        {L"hkcr\\.txt", true, {L"hkey_classes_root\\.txt"}},
        {L"hkcc\\x", true, {L"hkey_current_config\\x"}},
        {L"hku\\x", true, {L"hkey_users\\x"}},
        {L"vendor\\app", false, {hklm + L"vendor\\app", hkcu + L"vendor\\app"}},
        {L"vendor\\app", true, {hklm + L"vendor\\app", hkcu + L"vendor\\app", hklm32 + L"vendor\\app",
                                hkcu32 + L"vendor\\app"}},
        // Names that only look like roots are relative.
        {L"hk\\x", false, {hklm + L"hk\\x", hkcu + L"hk\\x"}},
        {L"hkey_foo\\x", false, {hklm + L"hkey_foo\\x", hkcu + L"hkey_foo\\x"}},
        {L"hklm", false, {hklm + L"hklm", hkcu + L"hklm"}},
        {L"hkey_local_machine", false, {hklm + L"hkey_local_machine", hkcu + L"hkey_local_machine"}},
        {L"hkusers\\x", false, {hklm + L"hkusers\\x", hkcu + L"hkusers\\x"}},
        // Matching is case-sensitive: the rules lower-case first.
        {L"HKLM\\x", false, {hklm + L"HKLM\\x", hkcu + L"HKLM\\x"}},
    };
    for (const ExpandCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(std::wstring(c.path)) << " wow64 "
                                        << c.wow64);
        EXPECT_EQ(win32::ExpandKeyPath(c.path, c.wow64), c.candidates);
    }
}

TEST(RegistryLayer, RelativePathsGainTheRedirectedBranchesOnlyUnderWow64) {
    EXPECT_EQ(win32::ExpandKeyPath(L"vendor\\app").size(), Wow64Prefix() ? 4u : 2u);
}

struct AdjustCase {
    const wchar_t* path;
    bool wow64;
    bool absent;
    const wchar_t* adjusted;
    REGSAM mask;
};

TEST(RegistryLayer, AdjustRegistryViewPicksTheBranch) {
    const AdjustCase cases[] = {
        {L"hkey_local_machine\\software\\wow6432node\\vendor", true, false, L"hkey_local_machine\\software\\vendor",
         KEY_READ},
        {L"hkey_current_user\\software\\wow6432node\\vendor\\app", true, false,
         L"hkey_current_user\\software\\vendor\\app", KEY_READ},
        {L"hkey_local_machine\\software\\wow6432node\\vendor", false, true,
         L"hkey_local_machine\\software\\wow6432node\\vendor", KEY_READ},
        {L"hkey_local_machine\\software\\vendor", true, false, L"hkey_local_machine\\software\\vendor",
         KEY_READ | KEY_WOW64_64KEY},
        {L"hkey_local_machine\\software\\vendor", false, false, L"hkey_local_machine\\software\\vendor", KEY_READ},
        {L"hkey_local_machine\\system\\x", true, false, L"hkey_local_machine\\system\\x", KEY_READ},
        {L"hkey_local_machine\\software", true, false, L"hkey_local_machine\\software", KEY_READ},
        // Written with capitals: not a software path, the default view.
        {L"hkey_local_machine\\SOFTWARE\\vendor", true, false, L"hkey_local_machine\\SOFTWARE\\vendor", KEY_READ},
        // The vendor piece is compared lower-cased.
        {L"hkey_local_machine\\software\\Wow6432Node\\x", false, true, L"hkey_local_machine\\software\\Wow6432Node\\x",
         KEY_READ},
        {L"hkey_local_machine\\software\\wow6432node", true, false, L"hkey_local_machine\\software\\wow6432node",
         KEY_READ},
    };
    for (const AdjustCase& c : cases) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(c.path)) << " wow64 " << c.wow64);
        std::wstring path = c.path;
        REGSAM mask = KEY_READ;
        EXPECT_EQ(win32::AdjustRegistryView(path, mask, c.wow64), c.absent);
        EXPECT_EQ(path, c.adjusted);
        EXPECT_EQ(mask, c.mask);
    }
}

TEST(RegistryLayer, NothingAfterTheSoftwareKeyIsAnIndexErrorNotARegistryError) {
    for (const wchar_t* path : {L"hkey_local_machine\\software\\", L"hkey_current_user\\software\\"}) {
        for (bool wow64 : {false, true}) {
            std::wstring p = path;
            REGSAM mask = KEY_READ;
            EXPECT_THROW(win32::AdjustRegistryView(p, mask, wow64), std::out_of_range);
        }
        win32::SoftwareSubkeyCache cache;
        EXPECT_THROW(win32::KeyExists(path, cache), std::out_of_range);
    }
    // What an entry "hklm\software\" becomes.
    EXPECT_EQ(win32::ExpandKeyPath(L"hklm\\software\\", false),
              std::vector<std::wstring>{L"hkey_local_machine\\software\\"});
}

// Keys of one run: a vendor in the native branch, one in the redirected
// branch, one in both with different data, and one below HKCU.
class RealRegistry : public testing::Test {
protected:
    void SetUp() override {
        redirected_ = std::make_unique<ScopedKey>(HKEY_LOCAL_MACHINE, L"Software", redirectedVendor + L"\\App",
                                                  KEY_WOW64_32KEY);
        redirected_->SetString(L"mode", L"REDIRECTED");
        both32_ = std::make_unique<ScopedKey>(HKEY_LOCAL_MACHINE, L"Software", bothVendor + L"\\App",
                                              KEY_WOW64_32KEY);
        both32_->SetString(L"where", L"redirected");
        both32_->SetDword(L"only32", 32);
        // On a 32-bit Windows this is the same key again: the native data wins.
        both64_ = std::make_unique<ScopedKey>(HKEY_LOCAL_MACHINE, L"Software", bothVendor + L"\\App",
                                              KEY_WOW64_64KEY);
        both64_->SetString(L"where", L"native");
        native_ = std::make_unique<ScopedKey>(HKEY_LOCAL_MACHINE, L"Software", nativeVendor + L"\\App",
                                              KEY_WOW64_64KEY);
        native_->SetString(L"mode", L"ON");
        native_->SetDword(L"count", 7);
        native_->SetQword(L"big", 1ULL << 40);
        const unsigned char bytes[] = {7, 0, 0, 0};
        native_->Set(L"blob", REG_BINARY, bytes, sizeof bytes);
        native_->Set(L"empty", REG_SZ, L"", 0);
        native_->SetString(L"nul", L"");
        user_ = std::make_unique<ScopedKey>(HKEY_CURRENT_USER, L"Software", userVendor + L"\\App", KEY_WOW64_64KEY);
        user_->SetString(L"mode", L"user");
    }
    void TearDown() override {
        user_.reset();
        native_.reset();
        both64_.reset();
        both32_.reset();
        redirected_.reset();
    }

    static std::wstring Lower(const std::wstring& s) { return win32::LowerCase(s); }
    static std::wstring Hklm(const std::wstring& rest) { return L"hkey_local_machine\\software\\" + rest; }

    const std::wstring nativeVendor = Unique(L"TamselNative");
    const std::wstring redirectedVendor = Unique(L"TamselRedirected");
    const std::wstring bothVendor = Unique(L"TamselBoth");
    const std::wstring userVendor = Unique(L"TamselUser");
    std::unique_ptr<ScopedKey> native_, redirected_, both32_, both64_, user_;
};

TEST_F(RealRegistry, KeyExistsLooksInTheBranchThePathNames) {
    const bool wow64 = Wow64Prefix();
    struct Case {
        std::wstring path;
        bool exists;
    };
    const Case cases[] = {
        {Hklm(Lower(nativeVendor) + L"\\app"), true},
        {Hklm(Lower(nativeVendor)), true},
        {Hklm(Lower(nativeVendor) + L"\\missing"), false},
        // The redirected branch is not the native one under WOW64.
        {Hklm(Lower(redirectedVendor) + L"\\app"), testenv::Config() == "win32"},
        {Hklm(L"wow6432node\\" + Lower(redirectedVendor) + L"\\app"), wow64},
        {Hklm(L"wow6432node\\" + Lower(nativeVendor) + L"\\app"), false},
        {Hklm(Lower(bothVendor) + L"\\app"), true},
        {L"hkey_current_user\\software\\" + Lower(userVendor) + L"\\app", true},
        // Not below a software key: opened directly.
        {L"hkey_local_machine\\system\\currentcontrolset", true},
        {L"hkey_local_machine\\system\\" + Lower(nativeVendor), false},
        {L"hkey_local_machine\\software", true},
        {L"hkey_local_machine\\SOFTWARE\\" + nativeVendor + L"\\App", !wow64},
        {L"hkey_local_machine\\SOFTWARE\\" + redirectedVendor + L"\\App", SeesThe32BitBranch()},
        {L"hkey_local_machine\\hardware\\description\\system\\centralprocessor\\0", true},
    };
    win32::SoftwareSubkeyCache cache;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path));
        EXPECT_EQ(win32::KeyExists(c.path, cache), c.exists);
        win32::SoftwareSubkeyCache fresh;
        EXPECT_EQ(win32::KeyExists(c.path, fresh), c.exists);
    }
}

TEST_F(RealRegistry, RelativeRuleEntriesFindEitherBranch) {
    win32::SoftwareSubkeyCache cache;
    for (const std::wstring& vendor : {nativeVendor, redirectedVendor, userVendor}) {
        const auto candidates = win32::ExpandKeyPath(Lower(vendor) + L"\\app");
        EXPECT_EQ(std::any_of(candidates.begin(), candidates.end(),
                              [&](const std::wstring& c) { return win32::KeyExists(c, cache); }),
                  vendor != redirectedVendor || SeesThe32BitBranch())
            << testing::PrintToString(vendor);
    }
}

TEST_F(RealRegistry, TheVendorListIsReadOnceAndAnswersMissesWithoutOpening) {
    const REGSAM view = Wow64Prefix() ? KEY_WOW64_64KEY : 0;
    win32::SoftwareSubkeyCache cache;
    ASSERT_TRUE(win32::KeyExists(Hklm(Lower(nativeVendor) + L"\\app"), cache));
    const auto& vendors = cache[HKEY_LOCAL_MACHINE][view][L"software"];
    EXPECT_NE(std::find(vendors.begin(), vendors.end(), Lower(nativeVendor)), vendors.end());
    EXPECT_EQ(std::find(vendors.begin(), vendors.end(), nativeVendor), vendors.end()) << "names are lower-cased";
    const size_t listed = vendors.size();

    // A vendor created after the list was read: the list decides, so the key
    // is reported absent, and the list is not read again.
    const std::wstring late = Unique(L"TamselLate");
    ScopedKey lateKey(HKEY_LOCAL_MACHINE, L"Software", late, KEY_WOW64_64KEY);
    EXPECT_FALSE(win32::KeyExists(Hklm(Lower(late)), cache));
    EXPECT_EQ(cache[HKEY_LOCAL_MACHINE][view][L"software"].size(), listed);

    win32::SoftwareSubkeyCache fresh;
    EXPECT_TRUE(win32::KeyExists(Hklm(Lower(late)), fresh));
}

TEST_F(RealRegistry, AnEmptyVendorListIsReadAgain) {
    const REGSAM view = Wow64Prefix() ? KEY_WOW64_64KEY : 0;
    win32::SoftwareSubkeyCache cache;
    cache[HKEY_LOCAL_MACHINE][view][L"software"] = {};
    EXPECT_TRUE(win32::KeyExists(Hklm(Lower(nativeVendor)), cache));
    EXPECT_FALSE(cache[HKEY_LOCAL_MACHINE][view][L"software"].empty());
}

TEST_F(RealRegistry, OpenKeyPathUsesTheMaskAsGiven) {
    EXPECT_TRUE(win32::OpenKeyPath(L"hkey_local_machine\\Software\\" + nativeVendor, KEY_READ | KEY_WOW64_64KEY));
    try {
        win32::OpenKeyPath(L"hkey_local_machine\\Software\\" + nativeVendor + L"\\nothing", KEY_READ);
        FAIL() << "opened a missing key";
    } catch (const win32::RegistryError& e) {
        EXPECT_STREQ(e.what(), "Cannot open registry key: RegOpenKeyEx failed.");
        EXPECT_EQ(e.Code(), ERROR_FILE_NOT_FOUND);
    }
    // Unknown roots are not a registry failure: they leave the caller.
    EXPECT_THROW(win32::OpenKeyPath(L"hkey_nowhere\\x", KEY_READ), std::out_of_range);
    // A root alone opens the root.
    EXPECT_TRUE(win32::OpenKeyPath(L"hkey_current_user", KEY_READ));
}

TEST_F(RealRegistry, EnumerateSubkeysLowerCasesEveryName) {
    ScopedKey alpha(HKEY_LOCAL_MACHINE, L"Software\\" + nativeVendor + L"\\App", L"Alpha", KEY_WOW64_64KEY);
    ScopedKey beta(HKEY_LOCAL_MACHINE, L"Software\\" + nativeVendor + L"\\App", L"BETA\\Inner", KEY_WOW64_64KEY);
    auto names = win32::EnumerateSubkeys(native_->Get());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"alpha", L"beta"}));
    EXPECT_TRUE(win32::EnumerateSubkeys(alpha.Get()).empty());
}

TEST_F(RealRegistry, ValueQueries) {
    const HKEY key = native_->Get();
    struct Case {
        const wchar_t* name;
        bool exists;
        DWORD type;
    };
    const Case cases[] = {
        {L"mode", true, REG_SZ},       {L"count", true, REG_DWORD}, {L"big", true, REG_QWORD},
        {L"blob", true, REG_BINARY},   {L"empty", true, REG_SZ},    {L"missing", false, 0},
        {L"", false, 0},  // no default value was set
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        EXPECT_EQ(win32::ValueExists(key, c.name), c.exists);
        EXPECT_EQ(win32::QueryValueType(key, c.name), c.type);
    }
}

TEST_F(RealRegistry, ReadStringValue) {
    const HKEY key = native_->Get();
    EXPECT_EQ(win32::ReadStringValue(key, L"", L"mode"), L"ON");
    EXPECT_EQ(win32::ReadStringValue(key, L"", L"empty"), L"");
    EXPECT_EQ(win32::ReadStringValue(key, L"", L"nul"), L"");
    EXPECT_EQ(win32::ReadStringValue(HKEY_LOCAL_MACHINE, L"Software\\" + bothVendor + L"\\App", L"where"),
              Wow64Prefix() ? L"redirected" : L"native");
    for (const wchar_t* name : {L"count", L"missing"}) {
        try {
            win32::ReadStringValue(key, L"", name);
            FAIL() << "read a string from " << testing::PrintToString(std::wstring(name));
        } catch (const win32::RegistryError& e) {
            EXPECT_STREQ(e.what(), "Cannot read string from registry");
            EXPECT_NE(e.Code(), 0);
        }
    }
}

TEST_F(RealRegistry, ValueDataEqualsComparesByType) {
    const HKEY key = native_->Get();
    struct Case {
        const wchar_t* name;
        DWORD type;
        const wchar_t* expected;
        bool equal;
    };
    const Case cases[] = {
        {L"mode", REG_SZ, L"on", true},
        {L"mode", REG_SZ, L"ON", false},  // expected text is lower case by contract
        {L"mode", REG_SZ, L"on ", false},
        {L"mode", REG_SZ, L"o", false},
        {L"empty", REG_SZ, L"", true},
        {L"count", REG_DWORD, L"7", true},
        {L"count", REG_DWORD, L" 7", true},
        {L"count", REG_DWORD, L"+7", true},
        {L"count", REG_DWORD, L"007", true},
        {L"count", REG_DWORD, L"7 days", true},  // read as far as the digits go
        {L"count", REG_DWORD, L"8", false},
        {L"big", REG_QWORD, L"1099511627776", true},
        {L"big", REG_QWORD, L"1099511627777", false},
        {L"blob", REG_BINARY, L"7", false},
        {L"blob", REG_BINARY, L"", false},
        // A read that fails is "not equal", before any parsing.
        {L"missing", REG_SZ, L"", false},
        {L"missing", REG_DWORD, L"no number", false},
        {L"mode", REG_DWORD, L"no number", false},
        {L"count", REG_QWORD, L"no number", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(c.name)) << " "
                                        << testing::PrintToString(std::wstring(c.expected)));
        EXPECT_EQ(win32::ValueDataEquals(key, c.name, c.type, c.expected), c.equal);
    }
}

TEST_F(RealRegistry, ExpectedTextThatIsNoNumberLeavesTheComparison) {
    const HKEY key = native_->Get();
    EXPECT_THROW(win32::ValueDataEquals(key, L"count", REG_DWORD, L"on"), std::invalid_argument);
    EXPECT_THROW(win32::ValueDataEquals(key, L"count", REG_DWORD, L""), std::invalid_argument);
    EXPECT_THROW(win32::ValueDataEquals(key, L"count", REG_DWORD, L"4294967296"), std::out_of_range);
    EXPECT_THROW(win32::ValueDataEquals(key, L"big", REG_QWORD, L"x"), std::invalid_argument);
    EXPECT_THROW(win32::ValueDataEquals(key, L"big", REG_QWORD, L"18446744073709551616"), std::out_of_range);
}

TEST_F(RealRegistry, ReadValueAsTextPrefersTheNativeBranch) {
    struct Case {
        std::wstring root, subkey, name;
        bool found;
        std::wstring text;
    };
    const bool wow64 = Wow64Prefix();
    const std::wstring native = L"software\\" + Lower(nativeVendor) + L"\\app";
    const std::wstring both = L"software\\" + Lower(bothVendor) + L"\\app";
    const Case cases[] = {
        {L"hkey_local_machine", native, L"mode", true, L"ON"},
        {L"hkey_local_machine", native, L"count", true, L"7"},
        {L"hkey_local_machine", native, L"big", true, L"1099511627776"},
        {L"hkey_local_machine", native, L"empty", true, L""},
        {L"hkey_local_machine", native, L"blob", false, L"kept"},
        {L"hkey_local_machine", native, L"missing", false, L"kept"},
        {L"hkey_local_machine", both, L"where", true, L"native"},
        // Missing from the native key: the redirected candidate has it.
        {L"hkey_local_machine", both, L"only32", SeesThe32BitBranch(), SeesThe32BitBranch() ? L"32" : L"kept"},
        {L"hkey_local_machine", L"software\\" + Lower(redirectedVendor) + L"\\app", L"mode", SeesThe32BitBranch(),
         SeesThe32BitBranch() ? L"REDIRECTED" : L"kept"},
        // Capitals: the default view of this process only.
        {L"hkey_local_machine", L"SOFTWARE\\" + bothVendor + L"\\App", L"where", true,
         wow64 ? L"redirected" : L"native"},
        {L"hkey_local_machine", L"SOFTWARE\\" + nativeVendor + L"\\App", L"mode", !wow64, !wow64 ? L"ON" : L"kept"},
        {L"hkey_current_user", L"software\\" + Lower(userVendor) + L"\\app", L"mode", true, L"user"},
        {L"hkey_local_machine", L"software\\" + Lower(Unique(L"TamselNobody")), L"x", false, L"kept"},
    };
    win32::SoftwareSubkeyCache cache;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.subkey + L" " + c.name));
        std::wstring text = L"kept";
        EXPECT_EQ(win32::ReadValueAsText(c.root, c.subkey, c.name, text, cache), c.found);
        EXPECT_EQ(text, c.text);
    }
}

TEST_F(RealRegistry, ReadValueAsTextLetsUnusablePathsLeave) {
    win32::SoftwareSubkeyCache cache;
    std::wstring text;
    EXPECT_THROW(win32::ReadValueAsText(L"hkey_nowhere", L"software\\x", L"v", text, cache), std::out_of_range);
    EXPECT_THROW(win32::ReadValueAsText(L"", L"x", L"v", text, cache), std::out_of_range);
    EXPECT_THROW(win32::ReadValueAsText(L"hkey_local_machine", L"software\\", L"v", text, cache), std::out_of_range);
}

// What the rules ask through SystemFacts: values by key path, in both branches.
TEST_F(RealRegistry, SystemFactsReadValuesTheWayTheRulesAsk) {
    const bool wow64 = Wow64Prefix();
    const std::wstring native = Hklm(Lower(nativeVendor) + L"\\app");
    const std::wstring redirected = Hklm(L"wow6432node\\" + Lower(redirectedVendor) + L"\\app");
    SystemFacts facts;
    EXPECT_TRUE(facts.ValueExists(native, L"blob"));
    EXPECT_FALSE(facts.ValueExists(native, L"missing"));
    EXPECT_EQ(facts.ValueExists(redirected, L"mode"), wow64);
    EXPECT_FALSE(facts.ValueExists(Hklm(Lower(Unique(L"TamselNobody"))), L"mode"));

    EXPECT_TRUE(facts.ValueDataEquals(native, L"mode", L"on"));
    EXPECT_TRUE(facts.ValueDataEquals(native, L"count", L" 7"));
    EXPECT_FALSE(facts.ValueDataEquals(native, L"blob", L"7"));
    EXPECT_FALSE(facts.ValueDataEquals(native, L"missing", L"7"));
    EXPECT_EQ(facts.ValueDataEquals(redirected, L"mode", L"redirected"), wow64);
    EXPECT_THROW(facts.ValueDataEquals(native, L"count", L"seven"), std::invalid_argument);
}

}  // namespace
