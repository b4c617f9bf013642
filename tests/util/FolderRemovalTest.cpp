// Removing the run's temporary folder: real trees in the prefix's temporary
// folder, links that lead outside them, files held open, and the restart list
// in the registry.
//
// Links: Wine 8 has no working CreateSymbolicLinkW (it reports success and
// makes nothing) and refuses FSCTL_SET_REPARSE_POINT (error 50). Its own links
// are Unix symbolic links, made here with ln: it lists those to folders as
// reparse points (files not at all), resolves them on every open, also with
// FILE_FLAG_OPEN_REPARSE_POINT, and every delete through one hits the target.
// Each way of making a link is tried; those the platform has are tested.
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "util/FolderRemoval.h"
#include "util/Handles.h"

namespace {

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteText(const std::wstring& path, const std::string& data = "data") {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << data;
}

std::wstring ReadText(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::wstring(s.begin(), s.end());
}

std::wstring TempBase() {
    wchar_t temp[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp, n) + L"tamsel-removal-" + std::to_wstring(::GetCurrentProcessId());
}

// --- Wine's side: Unix paths and programs --------------------------------

using UnixNameFn = char*(CDECL*)(const wchar_t*);
using DosNameFn = wchar_t*(CDECL*)(const char*);

UnixNameFn WineUnixName() {
    return reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}
bool UnderWine() { return WineUnixName() != nullptr; }

std::string UnixPath(const std::wstring& path) {
    char* name = WineUnixName()(path.c_str());
    if (!name) return std::string();
    std::string s = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return s;
}

// Starts a Unix program of the host. Wine runs ELF programs too, but hands
// back no handle that follows them, so callers wait for the effect.
bool StartUnix(const std::string& program, const std::vector<std::string>& args) {
    auto dosName = reinterpret_cast<DosNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!dosName) return false;
    wchar_t* dos = dosName(program.c_str());
    if (!dos) return false;
    std::wstring exe = dos;
    ::HeapFree(::GetProcessHeap(), 0, dos);
    std::wstring line = L"\"" + exe + L"\"";
    for (const auto& a : args) line += L" \"" + std::wstring(a.begin(), a.end()) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    tamsel::KernelHandle process(pi.hProcess), thread(pi.hThread);
    return true;
}

// Polls for a condition that another process brings about (a bounded wait).
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 200; ++i) {
        if (condition()) return true;
        ::Sleep(50);
    }
    return condition();
}

// --- Links -----------------------------------------------------------------

bool IsLink(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Listed at all: Wine shows a Unix link to a file as a plain file.
bool Listed(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    return static_cast<bool>(tamsel::FindHandle(::FindFirstFileW(path.c_str(), &data)));
}

struct LinkMaker {
    const char* name;
    // Makes link -> target; false where the platform cannot.
    bool (*make)(const std::wstring& link, const std::wstring& target, bool folder);
    // Wine's links cannot be removed through Windows calls: they stay in the
    // tree and are taken away with rm afterwards.
    bool wine;
};

bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target, bool folder) {
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // unprivileged where allowed
    if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) &&
        !::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags & ~0x2u))
        return false;
    return IsLink(link);  // Wine reports success without making one
}

bool MakeJunction(const std::wstring& link, const std::wstring& target, bool folder) {
    if (!folder || !::CreateDirectoryW(link.c_str(), nullptr)) return false;
    tamsel::FileHandle h(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const std::wstring substitute = L"\\??\\" + target;
    const auto subBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const auto printBytes = static_cast<WORD>(target.size() * sizeof(wchar_t));
    // REPARSE_DATA_BUFFER of a mount point: tag, length, reserved, four offsets, names.
    std::vector<unsigned char> buffer(16 + subBytes + 2 + printBytes + 2, 0);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD dataLength = static_cast<WORD>(buffer.size() - 8);
    const WORD fields[4] = {0, subBytes, static_cast<WORD>(subBytes + 2), printBytes};
    std::memcpy(&buffer[0], &tag, 4);
    std::memcpy(&buffer[4], &dataLength, 2);
    std::memcpy(&buffer[8], fields, 8);
    std::memcpy(&buffer[16], substitute.data(), subBytes);
    std::memcpy(&buffer[16 + subBytes + 2], target.data(), printBytes);
    DWORD returned = 0;
    const bool ok = h && ::DeviceIoControl(h.Get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                           static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    h.Reset();
    if (!ok || !IsLink(link)) {
        ::RemoveDirectoryW(link.c_str());
        return false;
    }
    return true;
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target, bool) {
    if (!UnderWine()) return false;
    const std::wstring parent = link.substr(0, link.find_last_of(L'\\'));
    const std::string unixTarget = UnixPath(target);
    const std::string unixLink = UnixPath(parent) + "/" + Narrow(link.substr(link.find_last_of(L'\\') + 1));
    return !unixTarget.empty() && StartUnix("/bin/ln", {"-s", unixTarget, unixLink}) &&
           Eventually([&] { return Listed(link); });
}

void RemoveUnixLink(const std::wstring& link) {
    const std::wstring parent = link.substr(0, link.find_last_of(L'\\'));
    if (!Exists(parent)) return;
    // Also a dangling one, which is not listed.
    if (StartUnix("/bin/rm", {"-f", UnixPath(parent) + "/" + Narrow(link.substr(link.find_last_of(L'\\') + 1))}))
        Eventually([&] { return !Listed(link); });
}

const LinkMaker kLinkMakers[] = {
    {"symbolic link", MakeSymbolicLink, false},
    {"junction", MakeJunction, false},
    {"Unix symbolic link (Wine)", MakeUnixLink, true},
};

// --- The restart list --------------------------------------------------------

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::vector<std::wstring> ReadPending() {
    std::vector<std::wstring> items;
    HKEY raw = nullptr;
    const REGSAM access = KEY_QUERY_VALUE | KEY_WOW64_64KEY;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, access, &raw) != ERROR_SUCCESS)
        return items;
    tamsel::RegKey key(raw);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.Get(), kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return items;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (::RegQueryValueExW(key.Get(), kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return items;
    // Pairs of source and target; an empty target means "delete". Read by
    // count, since the empty targets look like the list's end.
    const std::size_t count = size / sizeof(wchar_t);
    std::size_t i = 0;
    while (i < count) {
        const std::wstring item(&data[i]);
        items.push_back(item);
        i += item.size() + 1;
    }
    while (!items.empty() && items.size() % 2 == 1 && items.back().empty()) items.pop_back();
    return items;
}

// The sources scheduled for deletion, as the system wrote them.
std::vector<std::wstring> PendingDeletions() {
    const auto items = ReadPending();
    std::vector<std::wstring> out;
    for (std::size_t i = 0; i + 1 < items.size(); i += 2)
        if (items[i + 1].empty()) out.push_back(items[i]);
    return out;
}

bool IsPendingDeletion(const std::wstring& path) {
    const auto pending = PendingDeletions();
    const std::wstring nt = L"\\??\\" + path;
    return std::any_of(pending.begin(), pending.end(), [&](const std::wstring& p) {
        return ::CompareStringOrdinal(p.c_str(), -1, nt.c_str(), -1, TRUE) == CSTR_EQUAL;
    });
}

// Takes this test's entries (everything under base) out of the list again.
void ForgetPending(const std::wstring& base) {
    const auto items = ReadPending();
    const std::wstring prefix = L"\\??\\" + base;
    std::vector<wchar_t> kept;
    bool changed = false;
    for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
        const std::wstring& source = items[i];
        if (::CompareStringOrdinal(source.c_str(), static_cast<int>(std::min(source.size(), prefix.size())),
                                   prefix.c_str(), static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL) {
            changed = true;
            continue;
        }
        for (const std::wstring* s : {&items[i], &items[i + 1]}) {
            kept.insert(kept.end(), s->begin(), s->end());
            kept.push_back(L'\0');
        }
    }
    if (!changed) return;
    HKEY raw = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &raw),
              ERROR_SUCCESS);
    tamsel::RegKey key(raw);
    if (kept.empty()) {
        ::RegDeleteValueW(key.Get(), kPendingValue);
        return;
    }
    kept.push_back(L'\0');
    ::RegSetValueExW(key.Get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                     static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}

// --- Fixture ----------------------------------------------------------------

// Each test works in a folder of its own; whatever is left is removed at the
// end without the code under test, and the restart list is cleaned.
class FolderRemoval : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = TempBase() + L"-" + std::to_wstring(++counter_);
        Wipe(base_);
        ASSERT_TRUE(::CreateDirectoryW(base_.c_str(), nullptr));
    }
    void TearDown() override {
        for (const auto& link : unixLinks_) RemoveUnixLink(link);
        Wipe(base_);
        ForgetPending(base_);
    }

    // Plain recursive removal for set-up and clean-up (no links are left by then).
    static void Wipe(const std::wstring& folder) {
        const std::wstring ext = L"\\\\?\\" + folder;
        WIN32_FIND_DATAW data;
        tamsel::FindHandle find(::FindFirstFileW((ext + L"\\*").c_str(), &data));
        if (find) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring path = folder + L"\\" + name;
                ::SetFileAttributesW((L"\\\\?\\" + path).c_str(), FILE_ATTRIBUTE_NORMAL);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Wipe(path);
                else
                    ::DeleteFileW((L"\\\\?\\" + path).c_str());
            } while (::FindNextFileW(find.Get(), &data));
        }
        find.Reset();
        ::SetFileAttributesW(ext.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::RemoveDirectoryW(ext.c_str());
    }

    std::wstring Dir(const std::wstring& relative) {
        const std::wstring path = base_ + L"\\" + relative;
        EXPECT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << Narrow(path);
        return path;
    }
    std::wstring File(const std::wstring& relative, const std::string& data = "data") {
        const std::wstring path = base_ + L"\\" + relative;
        WriteText(path, data);
        EXPECT_TRUE(Exists(path)) << Narrow(path);
        return path;
    }

    std::wstring base_;
    std::vector<std::wstring> unixLinks_;
    static int counter_;
};
int FolderRemoval::counter_ = 0;

TEST_F(FolderRemoval, RemovesANestedTree) {
    const std::wstring tree = Dir(L"tree");
    Dir(L"tree\\a");
    Dir(L"tree\\a\\b");
    Dir(L"tree\\a\\b\\c");
    Dir(L"tree\\empty");
    File(L"tree\\top.exe");
    File(L"tree\\a\\one.txt");
    File(L"tree\\a\\b\\two.txt");
    File(L"tree\\a\\b\\c\\three.bin", std::string(100000, 'x'));
    const std::wstring readOnly = File(L"tree\\a\\read-only.txt");
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::wstring hidden = File(L"tree\\a\\b\\hidden.sys");
    ASSERT_TRUE(::SetFileAttributesW(hidden.c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
    const std::wstring readOnlyFolder = Dir(L"tree\\read-only folder");
    File(L"tree\\read-only folder\\inside.txt");
    ASSERT_TRUE(::SetFileAttributesW(readOnlyFolder.c_str(), FILE_ATTRIBUTE_READONLY));
    // More entries than one listing call returns.
    Dir(L"tree\\many");
    for (int i = 0; i < 1500; ++i) File(L"tree\\many\\entry-with-a-longer-name-" + std::to_wstring(i) + L".tmp", "");

    RemoveFolderTree(tree);
    EXPECT_FALSE(Exists(tree));
    EXPECT_FALSE(IsPendingDeletion(tree));
    EXPECT_TRUE(Exists(base_));
}

TEST_F(FolderRemoval, ReachesWhatLongPathsAndOddNamesHide) {
    // Deeper than MAX_PATH, and a name with a trailing dot, which only the
    // "\\?\" form of a path reaches.
    const std::wstring tree = Dir(L"deep");
    std::wstring path = L"\\\\?\\" + tree;
    for (int level = 0; level < 12; ++level) {
        path += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + level));
        ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr)) << level;
    }
    ASSERT_GT(path.size(), 400u);
    WriteText(path + L"\\bottom.txt");
    ASSERT_TRUE(Exists(path + L"\\bottom.txt"));
    const std::wstring dotted = L"\\\\?\\" + tree + L"\\trailing.";
    tamsel::FileHandle odd(::CreateFileW(dotted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(odd);
    odd.Reset();

    // Given with a trailing separator, as folder texts often are.
    RemoveFolderTree(tree + L"\\");
    EXPECT_FALSE(Exists(tree));
}

TEST_F(FolderRemoval, NothingToRemove) {
    const std::wstring file = File(L"a file.txt", "mine");
    const std::wstring empty = Dir(L"empty");
    struct Case {
        const char* what;
        std::wstring folder;
    };
    const Case cases[] = {
        {"empty text", L""},
        {"missing folder", base_ + L"\\missing"},
        {"missing parent", base_ + L"\\missing\\deeper"},
        {"a file, not a folder", file},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveFolderTree(c.folder);
        EXPECT_TRUE(Exists(file));
        EXPECT_EQ(ReadText(file), L"mine");
        EXPECT_TRUE(Exists(empty));
    }
    RemoveFolderTree(empty);
    EXPECT_FALSE(Exists(empty));
    EXPECT_FALSE(IsPendingDeletion(empty));
}

TEST_F(FolderRemoval, FilesInUseWaitForTheRestart) {
    const std::wstring tree = Dir(L"busy");
    Dir(L"busy\\sub");
    const std::wstring held = File(L"busy\\sub\\held.exe", "still running");
    const std::wstring other = File(L"busy\\sub\\other.txt");
    const std::wstring top = File(L"busy\\top.txt");
    // Open without delete sharing, as a running installer keeps its file.
    tamsel::FileHandle holder(
        ::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    RemoveFolderTree(tree);
    EXPECT_TRUE(Exists(held));
    EXPECT_FALSE(Exists(other));
    EXPECT_FALSE(Exists(top));
    // The file, and each folder that could not go because of it.
    EXPECT_TRUE(IsPendingDeletion(held));
    EXPECT_TRUE(IsPendingDeletion(tree + L"\\sub"));
    EXPECT_TRUE(IsPendingDeletion(tree));
    // In the order a restart must take them: the file before its folders.
    const auto pending = PendingDeletions();
    auto at = [&](const std::wstring& p) {
        return std::find_if(pending.begin(), pending.end(), [&](const std::wstring& s) {
                   return ::CompareStringOrdinal(s.c_str(), -1, (L"\\??\\" + p).c_str(), -1, TRUE) == CSTR_EQUAL;
               }) - pending.begin();
    };
    EXPECT_LT(at(held), at(tree + L"\\sub"));
    EXPECT_LT(at(tree + L"\\sub"), at(tree));

    // Once it is closed, a second run finishes the job.
    holder.Reset();
    RemoveFolderTree(tree);
    EXPECT_FALSE(Exists(tree));
}

TEST_F(FolderRemoval, LinksAreRemovedNeverFollowed) {
    int tried = 0;
    std::string report;
    for (const LinkMaker& maker : kLinkMakers) {
        SCOPED_TRACE(maker.name);
        const std::wstring kind = std::to_wstring(&maker - kLinkMakers);
        // Outside the tree: a folder with files, an empty folder, a file.
        const std::wstring outside = Dir(L"outside" + kind);
        const std::wstring outsideFile = File(L"outside" + kind + L"\\keep.txt", "keep");
        Dir(L"outside" + kind + L"\\sub");
        const std::wstring outsideDeep = File(L"outside" + kind + L"\\sub\\deep.txt", "deep");
        const std::wstring outsideEmpty = Dir(L"outside-empty" + kind);
        const std::wstring outsideLone = File(L"lone" + kind + L".txt", "lone");

        const std::wstring tree = Dir(L"tree" + kind);
        Dir(L"tree" + kind + L"\\real");
        const std::wstring realFile = File(L"tree" + kind + L"\\real\\file.txt");
        const std::wstring folderLink = tree + L"\\real\\to-outside";
        const std::wstring emptyLink = tree + L"\\to-empty";
        const std::wstring fileLink = tree + L"\\to-file.txt";
        if (!maker.make(folderLink, outside, true)) {
            report += std::string(maker.name) + ": not available here; ";
            continue;
        }
        ++tried;
        report += std::string(maker.name) + ": tested; ";
        const bool emptyMade = maker.make(emptyLink, outsideEmpty, true);
        const bool fileMade = maker.make(fileLink, outsideLone, false);
        // A tree that is itself a link.
        const std::wstring rootLink = base_ + L"\\root-link" + kind;
        const bool rootMade = maker.make(rootLink, outside, true);
        if (maker.wine) unixLinks_.insert(unixLinks_.end(), {folderLink, emptyLink, fileLink, rootLink});

        RemoveFolderTree(tree);
        if (rootMade) RemoveFolderTree(rootLink);

        EXPECT_EQ(ReadText(outsideFile), L"keep");
        EXPECT_EQ(ReadText(outsideDeep), L"deep");
        EXPECT_TRUE(Exists(outsideEmpty)) << "emptyMade " << emptyMade;
        EXPECT_EQ(ReadText(outsideLone), L"lone") << "fileMade " << fileMade;
        EXPECT_FALSE(Exists(realFile));
        if (!maker.wine) {
            // Where a link can be removed as itself, the whole tree goes.
            EXPECT_FALSE(Exists(tree));
            if (rootMade) {
                EXPECT_FALSE(Exists(rootLink));
            }
        }
        for (const auto& link : unixLinks_) RemoveUnixLink(link);
        unixLinks_.clear();
    }
    std::cout << "[links] " << report << "\n";
    if (tried == 0) GTEST_SKIP() << "no way to make a link here: " << report;
}

TEST(FolderRemovalRules, VolumeRootsAreNeverRemoved) {
    struct Case {
        std::wstring path;
        bool root;
    };
    const Case cases[] = {
        {L"C:\\", true},
        {L"C:", true},
        {L"c:\\\\", true},
        {L"\\\\?\\C:\\", true},
        {L"\\\\server\\share", true},
        {L"\\\\server\\share\\", true},
        {L"\\\\?\\UNC\\server\\share\\", true},
        {L"\\\\?\\Volume{12345678-1234-1234-1234-123456789abc}\\", true},
        {L"C:\\Temp", false},
        {L"\\\\?\\C:\\Temp\\ISV1.tmp", false},
        {L"\\\\server\\share\\folder", false},
        {L"\\\\?\\UNC\\server\\share\\folder", false},
    };
    for (const auto& c : cases) EXPECT_EQ(folder_removal::IsVolumeRoot(c.path), c.root) << Narrow(c.path);
}

TEST(FolderRemovalRules, ExtendedPaths) {
    EXPECT_EQ(folder_removal::ExtendedPath(L"C:\\Temp\\x"), L"\\\\?\\C:\\Temp\\x");
    EXPECT_EQ(folder_removal::ExtendedPath(L"\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
    EXPECT_EQ(folder_removal::ExtendedPath(L"\\\\?\\C:\\Temp"), L"\\\\?\\C:\\Temp");
}

TEST(FolderRemovalRules, AnEntryIsOnlyWhatItsFolderHolds) {
    struct Case {
        const wchar_t* parent;
        const wchar_t* name;
        const wchar_t* resolved;
        bool child;
    };
    const Case cases[] = {
        {L"\\Temp\\ISV1.tmp", L"setup.exe", L"\\Temp\\ISV1.tmp\\setup.exe", true},
        {L"\\Temp\\ISV1.tmp", L"SETUP.EXE", L"\\temp\\isv1.tmp\\setup.exe", true},
        {L"\\", L"x", L"\\x", true},
        // Wine drops the trailing dots only "\\?\" names can have.
        {L"\\Temp\\ISV1.tmp", L"odd. .", L"\\Temp\\ISV1.tmp\\odd", true},
        // A link resolved elsewhere, or one level off.
        {L"\\Temp\\ISV1.tmp", L"link", L"\\Windows\\System32", false},
        {L"\\Temp\\ISV1.tmp", L"link", L"\\Temp\\ISV1.tmp\\other", false},
        {L"\\Temp\\ISV1.tmp", L"a", L"\\Temp\\ISV1.tmp\\a\\b", false},
        {L"\\Temp\\ISV1", L"tmp\\x", L"\\Temp\\ISV1.tmp\\x", false},
        {L"\\Temp\\ISV1.tmp", L"", L"\\Temp\\ISV1.tmp\\", false},
        {L"", L"x", L"\\x", false},
        {L"\\Temp", L"x", L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(folder_removal::IsDirectChild(c.parent, c.name, c.resolved), c.child)
            << Narrow(c.parent) << " + " << Narrow(c.name) << " vs " << Narrow(c.resolved);
}

}  // namespace
