// Recognising downloaded archives, their extraction folder, the program picked
// from a folder, and the path that is finally started: real files in the
// prefix's temporary folder and the real Shell.
//
// Wine 8's Shell gives no folder object for a ZIP archive (NameSpace answers
// S_FALSE and no object) and its Folder.CopyHere is not implemented
// (E_NOTIMPL), so there nothing is ever unpacked and a ZIP starts as it is.
// Where a Shell opens ZIP archives, the tests expect the unpacked program.
#include <gtest/gtest.h>

#include <windows.h>
#include <shldisp.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "LaunchFiles.h"
#include "util/ArchiveLaunch.h"
#include "util/Handles.h"

using namespace launchtest;

namespace {

const CLSID kShellApplication = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kShellDispatch = {0xD8F015C0, 0xC278, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Whether this platform's Shell opens a ZIP archive as a folder at all.
bool ShellOpensZip(const std::wstring& zip) {
    const tamsel::ComScope com;
    tamsel::ComPtr<IShellDispatch> shell;
    if (FAILED(::CoCreateInstance(kShellApplication, nullptr, CLSCTX_INPROC_SERVER, kShellDispatch,
                                  reinterpret_cast<void**>(shell.Put()))))
        return false;
    const tamsel::ComString name(::SysAllocString(zip.c_str()));
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = name.Get();
    tamsel::ComPtr<Folder> folder;
    return SUCCEEDED(shell->NameSpace(v, folder.Put())) && folder;
}

bool ExtractZipAt(const std::wstring& archive, const std::wstring& target) {
    const tamsel::ComString a(::SysAllocString(archive.c_str()));
    const tamsel::ComString t(::SysAllocString(target.c_str()));
    return ExtractZip(a.Get(), t.Get());
}

bool CopyFixture(const std::wstring& name, const std::wstring& to) {
    return ::CopyFileW(Fixture(name).c_str(), to.c_str(), FALSE) != FALSE;
}

// An archive with no entries: only the end-of-directory record.
const std::string kEmptyZip = std::string("PK\x05\x06", 4) + std::string(18, '\0');

}  // namespace

// --- DetectArchiveType --------------------------------------------------------

TEST(DetectArchiveType, ReadsTheFirstBytesOfRealFiles) {
    const struct {
        const char* name;
        std::string bytes;
        int expected;
    } cases[] = {
        {"zip header", std::string("PK\x03\x04", 4) + "rest of an archive", kZipArchive},
        {"zip header alone", std::string("PK\x03\x04", 4), kZipArchive},
        {"zip header cut short", std::string("PK\x03", 3), kNotArchive},
        {"empty zip (end record only)", kEmptyZip, kNotArchive},
        {"spanned zip marker", std::string("PK\x07\x08PK\x03\x04", 8), kNotArchive},
        {"7z signature and more", std::string("7z\xBC\xAF\x27\x1C\x00\x04garbage", 15), kSevenZipArchive},
        {"7z signature alone", std::string("7z\xBC\xAF\x27\x1C", 6), kSevenZipArchive},
        {"7z signature cut short", std::string("7z\xBC\xAF\x27", 5), kNotArchive},
        {"7z signature, last byte wrong", std::string("7z\xBC\xAF\x27\x1D", 6), kNotArchive},
        {"zip header later in the file", std::string("MZ\x90\x00PK\x03\x04", 8), kNotArchive},
        {"text", "just some text", kNotArchive},
        {"empty file", "", kNotArchive},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = folder / L"download.bin";
        ASSERT_TRUE(WriteBytes(path, c.bytes));
        EXPECT_EQ(DetectArchiveType(path), c.expected);
    }
}

TEST(DetectArchiveType, AnswersZeroForWhatCannotBeRead) {
    TempFolder folder;
    EXPECT_EQ(DetectArchiveType(folder / L"missing.zip"), kNotArchive);
    EXPECT_EQ(DetectArchiveType(folder.Path()), kNotArchive);  // a folder is not opened as a file
    EXPECT_EQ(DetectArchiveType(L""), kNotArchive);
}

TEST(DetectArchiveType, KnowsTheBuiltProgramsAndArchives) {
    EXPECT_EQ(DetectArchiveType(ChildProgram()), kNotArchive);
    EXPECT_EQ(DetectArchiveType(Fixture(L"tool.zip")), kZipArchive);
    EXPECT_EQ(DetectArchiveType(Fixture(L"nested.zip")), kZipArchive);
}

// --- The extraction folder -----------------------------------------------------

TEST(ExtractionFolderName, TakesTheArchiveNameWithoutItsExtension) {
    const struct {
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {
        {L"D:\\dl\\tool.zip", L"tool"},
        {L"D:\\dl\\tool", L"tool"},
        {L"D:\\dl\\tool.v2.zip", L"tool.v2"},
        {L"D:\\dl.d\\tool", L"tool"},  // a dot in the folder is not the extension
        {L"D:/dl/tool.zip", L"tool"},
        {L"D:\\dl/sub\\tool.zip", L"tool"},
        {L"D:\\dl\\ tool.zip", L" tool"},
        {L"D:\\dl\\\u00DCbersetzer.zip", L"\u00DCbersetzer"},
        {L"D:\\dl\\console.zip", L"console"},
        {L"D:\\dl\\com10.zip", L"com10"},
        {L"D:\\dl\\nul-free.zip", L"nul-free"},
        // Trailing dots and spaces are dropped by the system; the name says so.
        {L"D:\\dl\\tool..zip", L"tool"},
        {L"D:\\dl\\tool .zip", L"tool"},
        {L"D:\\dl\\tool. . .zip", L"tool"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        EXPECT_EQ(archive_launch::ExtractionFolderName(c.path), c.expected);
    }
}

TEST(ExtractionFolderName, RefusesNamesThatAreNotAFolderOfTheirOwn) {
    // Each of these would be the base folder, its parent, a device, a stream
    // or no valid name at all.
    const std::wstring cases[] = {
        L"tool.zip",  // no folder part
        L"D:\\dl\\",
        L"D:\\dl\\.zip",
        L"D:\\dl\\..zip",
        L"D:\\dl\\...zip",
        L"D:\\dl\\. .zip",
        L"D:\\dl\\ .zip",
        L"D:\\dl\\..",
        L"D:\\dl\\con.zip",
        L"D:\\dl\\CON",
        L"D:\\dl\\Com1.tar.zip",
        L"D:\\dl\\lpt9 .zip",
        L"D:\\dl\\aux .zip",
        L"D:\\dl\\CONOUT$.zip",
        L"D:\\dl\\a:b.zip",
        L"D:\\dl\\what?.zip",
        L"D:\\dl\\a*.zip",
        L"D:\\dl\\a\"b.zip",
        L"D:\\dl\\a<b>.zip",
        L"D:\\dl\\a|b.zip",
        L"D:\\dl\\tab\there.zip",
        std::wstring(L"D:\\dl\\nul\0.zip", 14),
        L"D:\\dl\\" + std::wstring(MAX_PATH, L'n') + L".zip",
    };
    for (const auto& path : cases) {
        SCOPED_TRACE(Narrow(path));
        EXPECT_EQ(archive_launch::ExtractionFolderName(path), L"");
    }
}

TEST(CreateExtractionFolder, MakesOrReusesAFolderNamedAfterTheArchive) {
    TempFolder base;
    // The archive itself need not be in base, nor exist.
    EXPECT_EQ(CreateExtractionFolder(L"D:\\dl\\tool.zip", base.Path()), base / L"tool");
    EXPECT_TRUE(IsFolder(base / L"tool"));

    // Reused as it is, with what it holds.
    ASSERT_TRUE(WriteBytes(base / L"tool\\kept.txt", "kept"));
    EXPECT_EQ(CreateExtractionFolder(L"E:\\elsewhere\\tool.zip", base.Path()), base / L"tool");
    EXPECT_TRUE(Exists(base / L"tool\\kept.txt"));

    EXPECT_EQ(CreateExtractionFolder(L"D:\\dl\\plain", base.Path()), base / L"plain");
    EXPECT_TRUE(IsFolder(base / L"plain"));

    // A base given with its trailing separator.
    EXPECT_EQ(CreateExtractionFolder(L"D:\\dl\\slashed.zip", base.Path() + L"\\"), base / L"slashed");
    EXPECT_TRUE(IsFolder(base / L"slashed"));
}

TEST(CreateExtractionFolder, AnswersBaseWhenNoFolderOfItsOwnCanBeMade) {
    TempFolder base;
    ASSERT_TRUE(WriteBytes(base / L"taken", "a file, not a folder"));
    const std::wstring missingBase = base / L"missing\\deeper";
    const struct {
        const char* what;
        std::wstring archive;
        std::wstring base;
    } cases[] = {
        {"base does not exist", L"D:\\dl\\tool.zip", missingBase},
        {"a file holds the name", L"D:\\dl\\taken.zip", base.Path()},
        {"longer than a folder path may be", L"D:\\dl\\" + std::wstring(250, L'x') + L".zip", base.Path()},
        {"empty name", L"D:\\dl\\.zip", base.Path()},
        {"name of base's parent", L"D:\\dl\\...zip", base.Path()},
        {"name of base itself", L"D:\\dl\\..zip", base.Path()},
        {"device", L"D:\\dl\\nul.zip", base.Path()},
        {"stream", L"D:\\dl\\taken:hidden.zip", base.Path()},
        {"no folder part", L"tool.zip", base.Path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CreateExtractionFolder(c.archive, c.base), c.base);
        EXPECT_EQ(List(base.Path()), std::vector<std::wstring>{L"taken"});
    }
    EXPECT_FALSE(Exists(base / L"missing"));
    // No base at all: nothing is made in the root of the drive.
    EXPECT_EQ(CreateExtractionFolder(L"D:\\dl\\tamsel-launch-root-probe.zip", L""), L"");
    EXPECT_FALSE(Exists(L"\\tamsel-launch-root-probe"));
}

// --- FindFirstExe ---------------------------------------------------------------

TEST(FindFirstExe, TakesTheFirstProgramFileAndSkipsFolders) {
    const struct {
        const char* what;
        std::vector<std::wstring> files;
        std::vector<std::wstring> folders;
        const wchar_t* expected;
    } cases[] = {
        {"one program among other files", {L"readme.txt", L"setup.exe", L"data.bin"}, {}, L"setup.exe"},
        {"a folder named like a program", {L"setup.exe"}, {L"a.exe", L"z.exe"}, L"setup.exe"},
        {"capital extension", {L"SETUP.EXE"}, {}, L"SETUP.EXE"},
        {"only folders named like programs", {L"readme.txt"}, {L"x.exe", L"bin"}, L""},
        {"no program", {L"readme.txt", L"setup.msi"}, {}, L""},
        {"empty folder", {}, {}, L""},
        // Listed for *.exe through their short names (Wine lists them so),
        // but they are not programs.
        {"extension only begins with exe", {L"setup.exeold", L"tool.exe_"}, {}, L""},
        {"program beside a longer extension", {L"setup.exeold", L"real.exe"}, {}, L"real.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        for (const auto& name : c.files) ASSERT_TRUE(WriteBytes(folder / name, "MZ"));
        for (const auto& name : c.folders) ASSERT_TRUE(::CreateDirectoryW((folder / name).c_str(), nullptr));
        EXPECT_EQ(FindFirstExe(folder.Path()), c.expected);
    }
}

TEST(FindFirstExe, IsNotRecursive) {
    TempFolder folder;
    ASSERT_TRUE(::CreateDirectoryW((folder / L"bin").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(folder / L"bin\\x.exe", "MZ"));
    EXPECT_EQ(FindFirstExe(folder.Path()), L"");
    EXPECT_EQ(FindFirstExe(folder / L"bin"), L"x.exe");
}

TEST(FindFirstExe, AnswersNothingForAFolderItCannotSearchWhole) {
    TempFolder base;
    EXPECT_EQ(FindFirstExe(base / L"missing"), L"");
    EXPECT_EQ(FindFirstExe(L""), L"");
    // A folder whose search pattern would not fit in MAX_PATH: cutting the
    // pattern to fit would search for "*" and take readme.txt.
    std::wstring deep = base.Path() + L"\\";
    deep += std::wstring(MAX_PATH - 3 - deep.size(), L'd');
    ASSERT_EQ(deep.size() + 2, static_cast<size_t>(MAX_PATH - 1));  // deep + "\\*" just fits
    ASSERT_TRUE(::CreateDirectoryW(Extended(deep).c_str(), nullptr)) << ::GetLastError();
    ASSERT_TRUE(WriteBytes(Extended(deep + L"\\readme.txt"), "text"));
    EXPECT_EQ(FindFirstExe(deep), L"");
}

// --- Joining the program's path ------------------------------------------------

TEST(JoinLaunchPath, JoinsOnlyWhatFitsInMaxPath) {
    const std::wstring folder250 = L"C:\\" + std::wstring(247, L'f');
    const struct {
        const char* what;
        std::wstring folder;
        std::wstring name;
        std::wstring expected;
    } cases[] = {
        {"plain", L"C:\\t\\tool", L"setup.exe", L"C:\\t\\tool\\setup.exe"},
        {"folder with separator", L"C:\\t\\", L"a.exe", L"C:\\t\\a.exe"},
        {"longest that fits", folder250, std::wstring(8, L'n'), folder250 + L"\\" + std::wstring(8, L'n')},
        {"one character too long", folder250, std::wstring(9, L'n'), L""},
        {"a whole long name", L"C:\\t", std::wstring(255, L'n'), L""},
        {"no name", L"C:\\t", L"", L""},
        {"no folder", L"", L"a.exe", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(archive_launch::JoinLaunchPath(c.folder, c.name), c.expected);
    }
}

// --- ExtractZip with the real Shell -------------------------------------------

TEST(ExtractZip, UnpacksWhereTheShellOpensZipArchives) {
    TempFolder base;
    const std::wstring zip = base / L"tool.zip";
    ASSERT_TRUE(CopyFixture(L"tool.zip", zip));
    ASSERT_TRUE(::CreateDirectoryW((base / L"out").c_str(), nullptr));
    const bool opens = ShellOpensZip(zip);
    std::cout << "[ this Shell " << (opens ? "opens" : "does not open") << " ZIP archives ]" << std::endl;

    EXPECT_TRUE(ExtractZipAt(zip, base / L"out"));
    std::vector<std::wstring> unpacked = List(base / L"out");
    std::sort(unpacked.begin(), unpacked.end());
    if (opens)
        EXPECT_EQ(unpacked, (std::vector<std::wstring>{L"readme.txt", L"setup.exe"}));
    else
        EXPECT_TRUE(unpacked.empty());
}

TEST(ExtractZip, AnswersFalseOnlyForNoItemsOrARefusedCopy) {
    TempFolder base;
    ASSERT_TRUE(::CreateDirectoryW((base / L"out").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((base / L"empty").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((base / L"full").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(base / L"full\\item.txt", "item"));
    ASSERT_TRUE(WriteBytes(base / L"empty.zip", kEmptyZip));

    // What the Shell cannot open is not an answer of false.
    EXPECT_TRUE(ExtractZipAt(base / L"missing.zip", base / L"out"));
    EXPECT_TRUE(ExtractZipAt(base / L"full", base / L"missing"));
    // A source without items.
    EXPECT_FALSE(ExtractZipAt(base / L"empty", base / L"out"));
    if (ShellOpensZip(base / L"empty.zip")) {
        EXPECT_FALSE(ExtractZipAt(base / L"empty.zip", base / L"out"));
    }
    // A source with items: true exactly when they were copied (Wine's
    // CopyHere is not implemented and refuses).
    const bool answered = ExtractZipAt(base / L"full", base / L"out");
    EXPECT_EQ(answered, Exists(base / L"out\\item.txt"));
}

TEST(ExtractZip, LeavesTheCallingThreadsComAsItFoundIt) {
    // A thread already in an apartment keeps it: COM is only uninitialised
    // when this call's own initialisation counted.
    const struct {
        const char* what;
        DWORD model;
    } cases[] = {{"multi-threaded apartment", COINIT_MULTITHREADED}, {"single-threaded apartment", COINIT_APARTMENTTHREADED}};
    TempFolder base;
    ASSERT_TRUE(::CreateDirectoryW((base / L"empty").c_str(), nullptr));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HRESULT before = E_FAIL, after = E_FAIL;
        std::thread worker([&] {
            before = ::CoInitializeEx(nullptr, c.model);
            ExtractZipAt(base / L"empty", base / L"out");
            after = ::CoInitializeEx(nullptr, c.model);  // S_FALSE: still initialised
            if (SUCCEEDED(after)) ::CoUninitialize();
            if (SUCCEEDED(before)) ::CoUninitialize();
        });
        worker.join();
        EXPECT_EQ(before, S_OK);
        EXPECT_EQ(after, S_FALSE);
    }
    // And a thread without COM is left without it.
    HRESULT after = E_FAIL;
    std::thread worker([&] {
        ExtractZipAt(base / L"empty", base / L"out");
        after = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_OK: nothing was left initialised
        if (SUCCEEDED(after)) ::CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(after, S_OK);
}

// --- PrepareLaunchTarget ---------------------------------------------------------

TEST(PrepareLaunchTarget, StartsAnythingButAZipAsItIs) {
    TempFolder base;
    const std::wstring zip = base / L"tool.zip";
    ASSERT_TRUE(CopyFixture(L"tool.zip", zip));
    for (int type : {kNotArchive, kSevenZipArchive, 3, -1}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(PrepareLaunchTarget(zip, type, base.Path()), zip);
        EXPECT_EQ(List(base.Path()), std::vector<std::wstring>{L"tool.zip"});  // nothing unpacked
    }
}

TEST(PrepareLaunchTarget, StartsTheUnpackedProgramOrTheArchive) {
    TempFolder base;
    const std::wstring zip = base / L"tool.zip";
    ASSERT_TRUE(CopyFixture(L"tool.zip", zip));
    const bool opens = ShellOpensZip(zip);

    const std::wstring target = PrepareLaunchTarget(zip, kZipArchive, base.Path());
    EXPECT_TRUE(IsFolder(base / L"tool"));
    if (opens) {
        EXPECT_EQ(target, base / L"tool\\setup.exe");
    } else {
        // Wine: nothing was unpacked; the archive itself is started.
        EXPECT_EQ(target, zip);
        EXPECT_TRUE(List(base / L"tool").empty());
    }
}

TEST(PrepareLaunchTarget, StartsTheArchiveWhenNoProgramIsUnpackedAtTheTop) {
    const struct {
        const char* what;
        const wchar_t* archive;
        std::string bytes;  // or the fixture of that name
    } cases[] = {
        {"program only inside a folder", L"nested.zip", ""},
        {"no items", L"empty.zip", kEmptyZip},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder base;
        const std::wstring zip = base / c.archive;
        ASSERT_TRUE(c.bytes.empty() ? CopyFixture(c.archive, zip) : WriteBytes(zip, c.bytes));
        EXPECT_EQ(PrepareLaunchTarget(zip, kZipArchive, base.Path()), zip);
    }
}

TEST(PrepareLaunchTarget, TakesAProgramFromTheArchivesFolder) {
    // The folder is reused as it is, so a program already in it stands for an
    // unpacked one on any platform.
    TempFolder base;
    const std::wstring zip = base / L"nested.zip";
    ASSERT_TRUE(CopyFixture(L"nested.zip", zip));
    ASSERT_TRUE(::CreateDirectoryW((base / L"nested").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(base / L"nested\\install.exe", "MZ"));
    EXPECT_EQ(PrepareLaunchTarget(zip, kZipArchive, base.Path()), base / L"nested\\install.exe");
}

TEST(PrepareLaunchTarget, StartsTheArchiveRatherThanACutProgramPath) {
    TempFolder base;
    const std::wstring zip = base / L"nested.zip";
    ASSERT_TRUE(CopyFixture(L"nested.zip", zip));
    const std::wstring folder = base / L"nested";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    // Listed first, and folder + name is longer than MAX_PATH.
    const std::wstring longName = L"a" + std::wstring(MAX_PATH - folder.size() - 5, L'l') + L".exe";
    ASSERT_GE(folder.size() + 1 + longName.size(), static_cast<size_t>(MAX_PATH));
    ASSERT_TRUE(WriteBytes(Extended(folder + L"\\" + longName), "MZ"));
    EXPECT_EQ(PrepareLaunchTarget(zip, kZipArchive, base.Path()), zip);
}

TEST(PrepareLaunchTarget, NeverTakesAProgramFromTheBaseFolder) {
    // Without a folder of its own the archive would be unpacked among the
    // run's other downloads, and one of those programs could be started.
    const struct {
        const char* what;
        const wchar_t* archive;
        const wchar_t* fileInTheWay;
    } cases[] = {
        {"a file holds the folder's name", L"tool.zip", L"tool"},
        {"name of the base folder", L"..zip", nullptr},
        {"name of base's parent", L"...zip", nullptr},
        {"device name", L"con.zip", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder base;
        ASSERT_TRUE(WriteBytes(base / L"other-offer.exe", "MZ"));
        if (c.fileInTheWay) {
            ASSERT_TRUE(WriteBytes(base / c.fileInTheWay, "in the way"));
        }
        const std::wstring zip = base / c.archive;
        if (std::wstring(c.archive) != L"con.zip") {  // a device: no file of that name
            ASSERT_TRUE(CopyFixture(L"tool.zip", zip));
        }
        EXPECT_EQ(PrepareLaunchTarget(zip, kZipArchive, base.Path()), zip);
    }
}
