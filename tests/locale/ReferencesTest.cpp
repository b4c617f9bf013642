#include <gtest/gtest.h>

#include <tinyxml2.h>

#include <random>

#include "locale/LocaleTexts.h"

TEST(ResolveReferences, Cases) {
    const struct {
        const char* name;
        LocaleTexts in;
        LocaleTexts out;
    } cases[] = {
        {"plain", {{"A", "x{B}y"}, {"B", "b"}}, {{"A", "xby"}, {"B", "b"}}},
        {"no closing brace", {{"A", "a{B"}, {"B", "b"}}, {{"A", "a{B"}, {"B", "b"}}},
        {"unknown key stays, scan goes on", {{"A", "{NOPE}{B}"}, {"B", "b"}}, {{"A", "{NOPE}b"}, {"B", "b"}}},
        {"chain through later keys", {{"A", "{B}"}, {"B", "{C}!"}, {"C", "c"}}, {{"A", "c!"}, {"B", "c!"}, {"C", "c"}}},
        {"empty braces", {{"A", "{}"}, {"", "e"}}, {{"A", "e"}, {"", "e"}}},
        {"brace formed across the insert", {{"A", "{B}C}"}, {"B", "{X"}, {"XC", "!"}}, {{"A", "!"}, {"B", "{X"}, {"XC", "!"}}},
        {"same key twice", {{"A", "{B}{B}"}, {"B", "b"}}, {{"A", "bb"}, {"B", "b"}}},
        // The inserted "{" and the written "B}" make a reference again, and
        // again: the scan still ends, with a stray brace.
        {"stray brace", {{"A", "{B}B}"}, {"B", "{"}}, {{"A", "{"}, {"B", "{"}}},
        {"a title that is a brace", {{"A", "Get {T}!"}, {"T", "{"}}, {{"A", "Get {!"}, {"T", "{"}}},
    };
    for (const auto& c : cases) {
        LocaleTexts texts = c.in;
        ResolveReferences(texts);
        EXPECT_EQ(texts, c.out) << c.name;
    }
}

// Texts whose scan would never end: each is stopped, and the rest of the
// table still resolves.
TEST(ResolveReferences, EndlessScansAreStopped) {
    const struct {
        const char* name;
        LocaleTexts in;
    } cases[] = {
        {"self reference", {{"A", "x{A}y"}, {"Z", "{Y}"}, {"Y", "y"}}},
        {"a title that is its own reference", {{"PRODUCT_TITLE", "{PRODUCT_TITLE}"}, {"Z", "{Y}"}, {"Y", "y"}}},
        {"two-key cycle", {{"A", "{B}"}, {"B", "{A}"}, {"Z", "{Y}"}, {"Y", "y"}}},
        {"growing cycle under a sibling", {{"A", "{B}-{B}"}, {"B", "<{C}>"}, {"C", "{B}"}, {"Z", "{Y}"}, {"Y", "y"}}},
        {"doubling self reference", {{"A", "{A}{A}"}, {"Z", "{Y}"}, {"Y", "y"}}},
    };
    for (const auto& c : cases) {
        LocaleTexts texts = c.in;
        ResolveReferences(texts);
        for (const auto& [key, value] : texts) EXPECT_LE(value.size(), kMaxResolvedText) << c.name << " " << key;
        EXPECT_EQ(texts["Z"], "y") << c.name;
    }
}

namespace {

// The scan exactly as defined, with no guard at all, stopped only to tell the
// tables where it never ends: false when it did not end within `steps`
// replacements or grew past kMaxResolvedText.
bool ResolveAsDefined(LocaleTexts& texts, int steps) {
    for (auto& entry : texts) {
        std::string value = entry.second;
        size_t pos = 0;
        for (;;) {
            const size_t open = value.find('{', pos);
            if (open == std::string::npos) break;
            const size_t close = value.find('}', open + 1);
            if (close == std::string::npos) break;
            const auto found = texts.find(value.substr(open + 1, close - open - 1));
            if (found == texts.end()) {
                pos = close + 1;
                continue;
            }
            value.replace(open, close - open + 1, found->second);
            pos = open;
            if (--steps < 0 || value.size() > kMaxResolvedText) return false;
        }
        entry.second = value;
    }
    return true;
}

}  // namespace

// Wherever the defined scan ends, the result is the same, on many small
// random tables full of braces and references.
TEST(ResolveReferences, AgreesWithTheDefinedScanWhereverItEnds) {
    std::mt19937 random(20261210);
    const char pieces[] = {'{', '}', 'A', 'B', 'C', 'x'};
    int compared = 0;
    for (int round = 0; round < 100000; ++round) {
        LocaleTexts texts;
        for (const char* key : {"A", "B", "C"}) {
            if (random() % 4 == 0) continue;
            std::string value;
            for (unsigned n = random() % 7; n > 0; --n) value += pieces[random() % sizeof pieces];
            texts[key] = value;
        }
        LocaleTexts expected = texts;
        if (!ResolveAsDefined(expected, 10000)) continue;
        ++compared;
        LocaleTexts actual = texts;
        ResolveReferences(actual);
        if (actual != expected) {
            std::string table;
            for (const auto& [key, value] : texts) table += key + "=" + value + " ";
            ADD_FAILURE() << "differs for " << table;
            break;
        }
    }
    EXPECT_GT(compared, 50000) << "the tables mostly end";
}

TEST(ResolveReferences, DeepChainExpandsFully) {
    LocaleTexts texts;
    const int depth = 3000;
    auto key = [](int i) {
        char name[16];
        snprintf(name, sizeof name, "K%05d", i);
        return std::string(name);
    };
    // Keys sort in chain order, so the first entry is resolved against raw texts.
    for (int i = 0; i < depth; ++i) texts[key(i)] = "{" + key(i + 1) + "}";
    texts[key(depth)] = "end";
    ResolveReferences(texts);
    EXPECT_EQ(texts[key(0)], "end");
    EXPECT_EQ(texts[key(depth - 1)], "end");
}

// Large texts whose scan ends under the size bound come out whole, however
// many replacements they take and however long the text is between them.
TEST(ResolveReferences, LargeTextsUnderTheBoundExpandFully) {
    const std::string block(25000, 'c');
    std::string forty, manyEmpty, manyEmptyExpected;
    for (int i = 0; i < 40; ++i) forty += "{C}";
    for (int i = 0; i < 100000; ++i) manyEmpty += "{E}x";
    const struct {
        const char* name;
        LocaleTexts in;
        std::string expected;
    } cases[] = {
        {"forty long references", {{"A", forty}, {"C", block}}, [&] {
             std::string all;
             for (int i = 0; i < 40; ++i) all += block;
             return all;
         }()},
        {"many empty references in a long text", {{"A", manyEmpty}, {"E", ""}}, std::string(100000, 'x')},
        {"a long text ahead of a chain", {{"A", std::string(900000, 't') + "{B}"}, {"B", "{C}{C}"}, {"C", "!"}},
         std::string(900000, 't') + "!!"},
    };
    for (const auto& c : cases) {
        LocaleTexts texts = c.in;
        ResolveReferences(texts);
        EXPECT_EQ(texts["A"].size(), c.expected.size()) << c.name;
        EXPECT_TRUE(texts["A"] == c.expected) << c.name;
    }
}

TEST(ResolveReferences, DoublingReferencesAreCapped) {
    LocaleTexts texts;
    for (char c = 'A'; c < 'Z'; ++c) texts[std::string(1, c)] = std::string("{") + char(c + 1) + "}{" + char(c + 1) + "}";
    texts["Z"] = "zz";
    ResolveReferences(texts);  // 2^26 copies uncapped
    EXPECT_LE(texts["A"].size(), kMaxResolvedText);
    EXPECT_EQ(texts["Y"], "zzzz");
}

namespace {

LocaleLoadResult Read(const char* xml, LocaleTexts& texts) {
    tinyxml2::XMLDocument document;
    EXPECT_EQ(document.Parse(xml), tinyxml2::XML_SUCCESS) << xml;
    return ReadLocaleElements(document, texts);
}

}  // namespace

TEST(ReadLocaleElements, ReadsTextsAndResolvesThem) {
    LocaleTexts texts{{"PRODUCT_TITLE", "Tool"}};
    const auto result = Read(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Locale name=\"en_US\">\n"
        "  <!-- a comment between elements -->\n"
        "  <A><!-- comment before the text -->Get {PRODUCT_TITLE}&#13;&#10;now</A>\n"
        "  <B>&lt;a href=\"[URL]\"&gt;{A}&lt;/a&gt;</B>\n"
        "  <A>Get {PRODUCT_TITLE}!</A>\n"
        "</Locale>",
        texts);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(texts["A"], "Get Tool!");  // the later element wins
    EXPECT_EQ(texts["B"], "<a href=\"[URL]\">Get Tool!</a>");

    LocaleTexts breaks;
    ASSERT_TRUE(Read("<Locale name='x'><A>one&#13;&#10;two</A></Locale>", breaks).ok);
    EXPECT_EQ(breaks["A"], "one\r\ntwo");
}

TEST(ReadLocaleElements, BrokenDocuments) {
    LocaleTexts none;
    EXPECT_EQ(Read("<Other><A>a</A></Other>", none).error, "No Locale element");

    for (const char* xml : {"<Locale name='x'><A>a {B}</A><B>b</B><C/><D>d</D></Locale>",
                            "<Locale name='x'><A>a {B}</A><B>b</B><C><i>x</i></C><D>d</D></Locale>"}) {
        LocaleTexts partial;
        const auto result = Read(xml, partial);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, "No name or text attribute");
        // What was read stays, unresolved; nothing after the broken element.
        EXPECT_EQ(partial, (LocaleTexts{{"A", "a {B}"}, {"B", "b"}}));
    }
}
