#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "util/Aflt.h"
#include "util/Text.h"

TEST(Utf8ToWide, ConvertsMultiByteSequencesAndKeepsEmbeddedNul) {
    EXPECT_EQ(Utf8ToWide("\xE2\x82\xAC"), std::wstring(1, L'\u20AC'));
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    // Outside the basic plane: a surrogate pair.
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring(L"\xD83D\xDE00"));
    // Invalid bytes do not fail: the system substitutes them.
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), std::wstring(L"a\xFFFD" L"b"));
}

TEST(Utf8ToWide, RoundTripsThroughWideToUtf8) {
    const std::string text = "Fran\xC3\xA7" "ais \xD0\xA0\xD1\x83\xD1\x81 \xE2\x82\xAC";
    EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
}

TEST(JoinWithComma, JoinsWithoutSpaces) {
    EXPECT_EQ(JoinWithComma({"a", "", "b"}), "a,,b");
    EXPECT_EQ(JoinWithComma({}), "");
    EXPECT_EQ(JoinWithComma({"x"}), "x");
}

TEST(SplitPath, ReadsPiecesLikeLines) {
    const struct {
        std::wstring in;
        std::vector<std::wstring> out;
    } cases[] = {
        {L"a\\b", {L"a", L"b"}},
        {L"a\\\\b", {L"a", L"", L"b"}},
        {L"a\\", {L"a"}},
        {L"", {}},
        {L"\\a", {L"", L"a"}},
        {L"SOFTWARE\\Vendor\\Product", {L"SOFTWARE", L"Vendor", L"Product"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitPath(c.in, L'\\'), c.out) << std::string(c.in.begin(), c.in.end());
}

TEST(ParseVersion, ReadsTokensLikeWtoi) {
    const struct {
        std::wstring in;
        std::vector<int32_t> out;
    } cases[] = {
        {L"3.2.2.1212", {3, 2, 2, 1212}},
        {L"", {}},
        {L"3..2", {3, 2}},
        {L"10.0a.x", {10, 0, 0}},
        {L" 7.-3.+4", {7, -3, 4}},
        {L".", {}},
        {L"1.", {1}},
        // Out of range saturates instead of overflowing.
        {L"99999999999.1", {INT_MAX, 1}},
        {L"-99999999999", {INT_MIN}},
        {L"2147483647.-2147483648", {INT_MAX, INT_MIN}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseVersion(c.in), c.out) << std::string(c.in.begin(), c.in.end());
}

TEST(AfltForCountry, LooksUpExactCodes) {
    const struct {
        const char* code;
        const char* aflt;
    } cases[] = {
        {"US", "91088"}, {"us", "91082"}, {"CA", "91166"}, {"BR", "91199"}, {"NZ", "91214"}, {"KR", "91214"},
        {"AE", "91105"}, {"DZ", "91105"}, {"SG", "91215"}, {"TH", "91215"}, {"GB", "91082"}, {"", "91082"},
        {"USA", "91082"},
    };
    for (const auto& c : cases) EXPECT_EQ(AfltForCountry(c.code), c.aflt) << c.code;
}

// Every code of the country table, exactly as written there; the same codes
// in lower case are not in the table.
TEST(AfltForCountry, EveryCodeOfTheTable) {
    const struct {
        const char* aflt;
        std::vector<std::string> codes;
    } groups[] = {
        {"91088", {"US"}},
        {"91166", {"CA"}},
        {"91199", {"BR"}},
        {"91214", {"AU", "NZ", "KR"}},
        {"91105", {"DZ", "BG", "CY", "CZ", "EG", "GR", "HU", "IE", "IL", "KW", "MA", "PL",
                   "PT", "QA", "RO", "RU", "SA", "SK", "ZA", "TN", "TR", "UA", "AE"}},
        {"91215", {"TH", "MX", "PH", "AR", "VN", "TW", "PE", "CL", "CO", "VE", "RS", "LK", "DO", "JO", "HK", "LT", "PS",
                   "HR", "CR", "BA", "SV", "GE", "MD", "AL", "UY", "BY", "LB", "SN", "PA", "LV", "ID", "PK", "SG"}},
    };
    std::set<std::string> listed;
    for (const auto& group : groups) {
        for (const std::string& code : group.codes) {
            EXPECT_TRUE(listed.insert(code).second) << code << " listed twice";
            EXPECT_EQ(AfltForCountry(code), group.aflt) << code;
            std::string lower = code;
            for (char& c : lower) c = static_cast<char>(c - 'A' + 'a');
            EXPECT_EQ(AfltForCountry(lower), "91082") << lower;
        }
    }
    EXPECT_EQ(listed.size(), 62u) << "the table as written has 62 codes";
    // Countries the table does not name.
    for (const char* other : {"GB", "DE", "FR", "JP", "CN", "IN", "NL", "AT", "MY", "KZ"}) {
        EXPECT_EQ(AfltForCountry(other), "91082") << other;
    }
}
