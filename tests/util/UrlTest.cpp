#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "util/Url.h"

TEST(IsValidUrl, AcceptsTheAddressPattern) {
    const struct {
        const wchar_t* text;
        bool valid;
    } cases[] = {
        {L"https://a.b/x?y=1", true},
        {L"a.b", true},
        {L"http://a.b", true},
        {L"https://cdn.example.com/files/setup.exe", true},
        {L"a.b#frag", true},
        {L"a.b?", true},
        {L"a..b", true},
        {L"_.-", true},
        {L"ab", false},
        {L"ftp://a.b", false},
        {L"https://a b.c", false},
        {L"http://ab", false},
        {L"a.b c", false},
        {L"HTTP://a.b", false},
        {L".ab", false},
        {L"ab.", false},
        {L"", false},
        {L"https://", false},
        {L"http:/a.b", false},
        {L"a.b/\nx", false},
        {L"a.b/x\r", false},
        {L"https://a.b:8080/x", false},  // ":" is not part of the host
        {L"a.b/\u00e9", true},            // anything after the path mark but line breaks
        {L"\u00e9.b", false},              // the host is ASCII only
        // Characters the code page lacks are not turned into a "?" that
        // would pass for a query.
        {L"http://a.b\u4e00", false},
        {L"a.b/x\u4e00", false},
        {L"http://a.b\uff43", false},     // no best fit to "c" either
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidUrl(c.text), c.valid) << std::string(c.text, c.text + wcslen(c.text));
    }
}

TEST(IsValidUrl, AgreesWithTheRegularExpressionOnShortTexts) {
    // The pattern itself, run by the standard library on texts short enough
    // for its backtracking to stay cheap.
    const std::regex pattern("^((http|https):\\/\\/)?([\\w.-]+)(\\.[\\w.-]+)+([\\/?#].*)?$");
    const std::string pieces[] = {"a", "b", ".", "-", "_", "/", "?", "#", ":", " ", "\n", "\r", "Z", "9",
                                  "http://", "https://", "http:", "//", "\xE9", std::string(1, '\0')};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 8);
        for (int i = 0; i < count; ++i) text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        ASSERT_EQ(MatchesUrlPattern(text), std::regex_match(text, pattern)) << "text: [" << text << "]";
    }
}

TEST(IsValidUrl, AnswersLongHostileTextsWithoutCrashing) {
    const std::string megabyte(1 << 20, 'a');
    EXPECT_FALSE(MatchesUrlPattern(megabyte));
    EXPECT_TRUE(MatchesUrlPattern("https://a.b/" + megabyte));
    EXPECT_TRUE(MatchesUrlPattern(megabyte + ".b"));
    std::string dots;
    for (int i = 0; i < (1 << 19); ++i) dots += "a.";
    EXPECT_FALSE(MatchesUrlPattern(dots + "!"));
    EXPECT_TRUE(MatchesUrlPattern(dots + "a"));
    EXPECT_FALSE(MatchesUrlPattern("a.b/" + megabyte + "\n"));
    EXPECT_TRUE(IsValidUrl(std::wstring(1 << 20, L'.')));  // dots are host characters too
    EXPECT_FALSE(IsValidUrl(std::wstring(1 << 20, L'/')));
}
