#include <gtest/gtest.h>


#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"
#include "config/FolderPlaceholders.h"
#include "util/KnownFolders.h"

namespace {

FolderFacts Facts(bool wow64, const std::wstring& programW6432 = L"C:\\Program Files") {
    FolderFacts f;
    f.wow64 = wow64;
    f.localAppData = L"C:\\Users\\u\\AppData\\Local";
    f.roamingAppData = L"C:\\Users\\u\\AppData\\Roaming";
    f.programData = L"C:\\ProgramData";
    f.programFilesX86 = L"C:\\Program Files (x86)";
    f.hasProgramW6432 = true;
    f.programW6432 = programW6432;
    return f;
}

}  // namespace

TEST(FolderPlaceholders, ListOrderAndWow64Entries) {
    const auto wow = BuildFolderPlaceholderList(Facts(true));
    ASSERT_EQ(wow.size(), 6u);
    EXPECT_EQ(wow[0], std::make_pair(std::wstring(L"commonpf"), std::wstring(L"{commonpf64}")));
    EXPECT_EQ(wow[2].first, L"commonappdata");
    EXPECT_EQ(wow[2].second, L"C:\\Users\\u\\AppData\\Roaming");
    EXPECT_EQ(wow[5], std::make_pair(std::wstring(L"commonpf64"), std::wstring(L"C:\\Program Files")));

    const auto native32 = BuildFolderPlaceholderList(Facts(false));
    ASSERT_EQ(native32.size(), 5u);
    EXPECT_EQ(native32[0].second, L"{commonpf32}");

    // ProgramW6432 counts only with 1 to 259 characters.
    EXPECT_EQ(BuildFolderPlaceholderList(Facts(true, L"")).size(), 5u);
    EXPECT_EQ(BuildFolderPlaceholderList(Facts(true, std::wstring(260, L'x'))).size(), 5u);
    EXPECT_EQ(BuildFolderPlaceholderList(Facts(true, std::wstring(259, L'x'))).size(), 6u);
}

TEST(FolderPlaceholders, Expansion) {
    const auto wow = BuildFolderPlaceholderList(Facts(true));
    const auto native32 = BuildFolderPlaceholderList(Facts(false));
    const struct {
        const FolderPlaceholderList* list;
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {&wow, L"{commonpf}\\Vendor\\app.exe", L"C:\\Program Files\\Vendor\\app.exe"},
        {&native32, L"{commonpf}\\Vendor\\app.exe", L"C:\\Program Files (x86)\\Vendor\\app.exe"},
        {&native32, L"{commonpf64}\\Vendor", L"{commonpf64}\\Vendor"},
        {&wow, L"{commonpf32}\\V", L"C:\\Program Files (x86)\\V"},
        {&wow, L"no braces at all", L"no braces at all"},
        {&wow, L"{windir}\\system32", L"{windir}\\system32"},
        {&wow, L"{CommonPF}\\x", L"{CommonPF}\\x"},
        {&wow, L"{localappdata}|{localappdata}", L"C:\\Users\\u\\AppData\\Local|C:\\Users\\u\\AppData\\Local"},
        {&wow, L"{programdata}{commonappdata}", L"C:\\ProgramData" L"C:\\Users\\u\\AppData\\Roaming"},
        {&wow, L"{localappdata", L"{localappdata"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExpandPlaceholders(c.in, *c.list), c.out);

    // A folder that holds its own placeholder is inserted once, not forever.
    FolderPlaceholderList selfReferring{{L"a", L"x{a}y"}};
    EXPECT_EQ(ExpandPlaceholders(L"{a}-{a}", selfReferring), L"x{a}y-x{a}y");
}

// Under WOW64 "{commonpf}" is the native (64-bit) program-files folder.
TEST(FolderPlaceholders, CommonPfUnderWow64IsTheNativeFolder) {
    TAMSEL_NEEDS_CONFIG("wow64", "a 32-bit process under WOW64");
    ASSERT_TRUE(testenv::IsWow64());
    ConfigurationManager config("Bogus", nullptr);  // no folders created for an unknown type
    wchar_t native[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH), 0u);
    EXPECT_NE(std::wstring(native), GetKnownFolderPath(FOLDERID_ProgramFilesX86, false));
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{commonpf}\\Vendor\\a.exe"), std::wstring(native) + L"\\Vendor\\a.exe");
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{commonpf64}"), native);
}

// Without WOW64 (a 32-bit Windows, or the 64-bit test build) it is the x86
// folder, and "{commonpf64}" stays as written.
TEST(FolderPlaceholders, CommonPfWithoutWow64IsTheX86Folder) {
    if (testenv::Config() == "wow64") GTEST_SKIP() << "the configurations without WOW64 (win32, x64); this is wow64";
    ASSERT_FALSE(testenv::IsWow64());
    ConfigurationManager config("Bogus", nullptr);
    const std::wstring x86 = GetKnownFolderPath(FOLDERID_ProgramFilesX86, false);
    ASSERT_FALSE(x86.empty());
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{commonpf}\\Vendor\\a.exe"), x86 + L"\\Vendor\\a.exe");
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{commonpf64}\\Vendor"), L"{commonpf64}\\Vendor");
}

TEST(FolderPlaceholders, ThisMachine) {
    ConfigurationManager config("Bogus", nullptr);
    const std::wstring x86 = GetKnownFolderPath(FOLDERID_ProgramFilesX86, false);
    ASSERT_FALSE(x86.empty());
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{commonpf32}"), x86);
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{localappdata}"), GetKnownFolderPath(FOLDERID_LocalAppData, false));
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{commonappdata}"), GetKnownFolderPath(FOLDERID_RoamingAppData, false));
    EXPECT_EQ(config.ExpandFolderPlaceholders(L"{programdata}"), GetKnownFolderPath(FOLDERID_ProgramData, false));
}
