#include "FolderRemoval.h"

#include <cstddef>
#include <cwctype>
#include <memory>
#include <new>
#include <vector>

#include "Handles.h"
#include "Text.h"

namespace folder_removal {

EntryKind Classify(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
    return EntryKind::File;
}

bool IsInUse(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION; }

namespace {

bool IsDriveLetter(const std::wstring& text, std::size_t at) {
    return text.size() >= at + 2 && std::iswalpha(text[at]) && text[at + 1] == L':';
}

}  // namespace

std::wstring ExtendedPath(const std::wstring& fullPath) {
    if (StartsWith(fullPath, L"\\\\?\\") || StartsWith(fullPath, L"\\\\.\\")) return fullPath;
    if (StartsWith(fullPath, L"\\\\")) return L"\\\\?\\UNC\\" + fullPath.substr(2);
    if (IsDriveLetter(fullPath, 0)) return L"\\\\?\\" + fullPath;
    return fullPath;
}

bool IsVolumeRoot(const std::wstring& fullPath) {
    std::wstring rest = fullPath;
    bool unc = false;
    if (StartsWith(rest, L"\\\\?\\UNC\\")) {
        rest = rest.substr(8);
        unc = true;
    } else if (StartsWith(rest, L"\\\\?\\") || StartsWith(rest, L"\\\\.\\")) {
        rest = rest.substr(4);
    } else if (StartsWith(rest, L"\\\\")) {
        rest = rest.substr(2);
        unc = true;
    }
    while (!rest.empty() && (rest.back() == L'\\' || rest.back() == L'/')) rest.pop_back();
    if (rest.empty()) return true;
    // "server\share" is a root; so is one name after "\\?\" ("C:", "Volume{...}").
    const std::size_t first = rest.find_first_of(L"\\/");
    if (first == std::wstring::npos) return true;
    return unc && rest.find_first_of(L"\\/", first + 1) == std::wstring::npos;
}

bool IsDirectChild(const std::wstring& parentFinal, const std::wstring& name, const std::wstring& childFinal) {
    if (parentFinal.empty() || name.empty() || childFinal.empty()) return false;
    std::wstring expected = parentFinal;
    if (expected.back() != L'\\') expected += L'\\';
    expected += name;
    // Wine reports a name without the trailing dots and spaces that only the
    // "\\?\" form can create.
    std::wstring actual = childFinal;
    for (std::wstring* s : {&expected, &actual}) {
        while (!s->empty() && (s->back() == L'.' || s->back() == L' ')) s->pop_back();
    }
    if (expected.size() != actual.size() || expected.size() > 0x7FFFFFFF) return false;
    return ::CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), actual.c_str(),
                                  static_cast<int>(actual.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace folder_removal

namespace {

using folder_removal::EntryKind;
using tamsel::FileHandle;

struct Entry {
    std::wstring name;
    DWORD attributes;
};

// --- The file system calls -------------------------------------------------

std::wstring FullPath(const std::wstring& path) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), &buffer[0], nullptr);
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.assign(n, L'\0');  // n counts the terminating NUL here
    }
    return std::wstring();
}

// Every open is of the entry itself: a link is opened as the link, not as
// what it points at.
FileHandle OpenEntry(const std::wstring& path, DWORD access, DWORD share, DWORD& error) {
    const HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    return FileHandle(h);
}

DWORD HandleAttributes(HANDLE h) {
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) return INVALID_FILE_ATTRIBUTES;
    return info.FileAttributes;
}

// The path of what the handle really is, links resolved where the platform
// resolves them (Wine does for its symbolic links, which it cannot open as
// links); "" when unknown.
std::wstring ResolvedName(HANDLE h) {
    DWORD size = 1024;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]());
        if (!buffer) return std::wstring();
        auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.get());
        if (::GetFileInformationByHandleEx(h, FileNameInfo, info, size)) {
            const DWORD room = size - static_cast<DWORD>(offsetof(FILE_NAME_INFO, FileName));
            const DWORD bytes = info->FileNameLength < room ? info->FileNameLength : room;
            return std::wstring(info->FileName, bytes / sizeof(wchar_t));
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_MORE_DATA || info->FileNameLength >= 0x10000 * sizeof(wchar_t)) return std::wstring();
        size = static_cast<DWORD>(offsetof(FILE_NAME_INFO, FileName)) + info->FileNameLength + sizeof(wchar_t);
    }
    return std::wstring();
}

// The entry goes once the last handle to it is closed.
bool MarkForDeletion(HANDLE h, DWORD& error) {
    FILE_DISPOSITION_INFO info = {TRUE};
    const BOOL ok = ::SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info);
    error = ok ? 0 : ::GetLastError();
    return ok != FALSE;
}

bool ClearReadOnly(HANDLE h, DWORD attributes) {
    FILE_BASIC_INFO info = {};  // zero times: left as they are
    info.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info) != FALSE;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void ScheduleAtRestart(const std::wstring& path) { ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); }

// The folder's entries but "." and "..", listed through the handle (not by
// name) before any is touched.
std::vector<Entry> ListFolder(HANDLE folder) {
    std::vector<Entry> entries;
    constexpr DWORD size = 64 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer) return entries;
    for (bool first = true;; first = false) {
        const auto type = first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo;
        if (!::GetFileInformationByHandleEx(folder, type, buffer.get(), size)) break;  // ERROR_NO_MORE_FILES at the end
        for (DWORD offset = 0;;) {
            // The last entry is not padded to the structure's size.
            const std::size_t nameAt = offset + offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
            if (nameAt > size) break;
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.get() + offset);
            const DWORD nameBytes = info->FileNameLength;
            if (nameBytes > size - nameAt) break;
            const std::wstring name(info->FileName, nameBytes / sizeof(wchar_t));
            if (name != L"." && name != L".." && !name.empty()) entries.push_back({name, info->FileAttributes});
            if (info->NextEntryOffset == 0) break;
            offset += info->NextEntryOffset;
        }
    }
    return entries;
}

// --- The removal -----------------------------------------------------------

// What an opened entry turned out to be.
struct Opened {
    FileHandle handle;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    std::wstring resolved;
};

// Whether the handle is the entry `name` of the folder resolved as parent
// (any entry, when there is no parent to compare with).
bool IsThatEntry(const Opened& o, const std::wstring* parent, const std::wstring& name) {
    if (o.attributes == INVALID_FILE_ATTRIBUTES) return false;
    return !parent || folder_removal::IsDirectChild(*parent, name, o.resolved);
}

Opened Open(const std::wstring& path, DWORD access, DWORD share, DWORD& error) {
    Opened o;
    o.handle = OpenEntry(path, access, share, error);
    if (!o.handle) return o;
    o.attributes = HandleAttributes(o.handle.Get());
    o.resolved = ResolvedName(o.handle.Get());
    return o;
}

// A link goes only when the handle shows the link itself; where the platform
// hands out the target instead (Wine), it stays: deleting would hit the target.
// Never left for a restart, which would go by name and could follow it.
void RemoveLink(const std::wstring& path, const std::wstring* parent, const std::wstring& name) {
    DWORD error = 0;
    Opened o = Open(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, error);
    if (!o.handle || !(o.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsThatEntry(o, parent, name)) return;
    MarkForDeletion(o.handle.Get(), error);
}

void RemoveFile(const std::wstring& path, const std::wstring& parent, const std::wstring& name) {
    DWORD error = 0;
    Opened o = Open(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, error);
    if (!o.handle) {
        if (folder_removal::IsInUse(error)) ScheduleAtRestart(path);
        return;
    }
    if (!IsThatEntry(o, &parent, name)) return;  // a link the listing did not show as one
    if (o.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        MarkForDeletion(o.handle.Get(), error);  // became a link since the listing: the link goes
        return;
    }
    if (o.attributes & FILE_ATTRIBUTE_READONLY) ClearReadOnly(o.handle.Get(), o.attributes);
    if (!MarkForDeletion(o.handle.Get(), error) && folder_removal::IsInUse(error)) {
        o.handle.Reset();
        ScheduleAtRestart(path);
    }
}

// A folder being emptied. Its handle is held without delete sharing, so
// neither it nor any folder above it can be renamed or replaced by a link
// while the entries below are removed by name.
struct Frame {
    std::wstring path;
    Opened folder;
    bool canDelete = false;  // the handle carries DELETE access
    std::vector<Entry> entries;
    std::size_t next = 0;
};

bool Enter(std::vector<Frame>& stack, const std::wstring& path, const std::wstring* parent, const std::wstring& name) {
    Frame frame;
    frame.path = path;
    DWORD error = 0;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD list = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    frame.folder = Open(path, list | DELETE | FILE_WRITE_ATTRIBUTES, share, error);
    frame.canDelete = static_cast<bool>(frame.folder.handle);
    // Someone holds it with delete access (a watcher): empty it all the same.
    if (!frame.folder.handle && error == ERROR_SHARING_VIOLATION) frame.folder = Open(path, list, share, error);
    if (!frame.folder.handle) return false;
    const DWORD attributes = frame.folder.attributes;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        frame.folder.handle.Reset();
        RemoveLink(path, parent, name);  // replaced by a link since the listing
        return false;
    }
    if (frame.folder.resolved.empty() || !IsThatEntry(frame.folder, parent, name)) return false;
    frame.entries = ListFolder(frame.folder.handle.Get());
    stack.push_back(std::move(frame));
    return true;
}

void Leave(Frame& frame) {
    DWORD error = 0;
    if (frame.canDelete) {
        // A read-only folder cannot be removed either.
        if (frame.folder.attributes & FILE_ATTRIBUTE_READONLY)
            ClearReadOnly(frame.folder.handle.Get(), frame.folder.attributes);
        MarkForDeletion(frame.folder.handle.Get(), error);
    }
    frame.folder.handle.Reset();
    if (Exists(frame.path)) ScheduleAtRestart(frame.path);
}

}  // namespace

void RemoveFolderTree(const std::wstring& folder) {
    if (folder.empty()) return;
    const std::wstring full = FullPath(folder);
    if (full.empty() || folder_removal::IsVolumeRoot(full)) return;
    std::wstring root = folder_removal::ExtendedPath(full);
    while (root.size() > 1 && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();

    const DWORD attributes = ::GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    const std::wstring rootName = FileNameOf(root);
    if (folder_removal::Classify(attributes) == EntryKind::Link) {
        RemoveLink(root, nullptr, rootName);
        return;
    }

    // Depth first without recursion: a deep tree cannot exhaust the stack.
    std::vector<Frame> stack;
    if (!Enter(stack, root, nullptr, rootName)) return;
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.entries.size()) {
            Leave(top);
            stack.pop_back();
            continue;
        }
        const Entry entry = top.entries[top.next++];
        const std::wstring path = top.path + L"\\" + entry.name;
        const std::wstring parent = top.folder.resolved;  // top may move when a frame is pushed
        switch (folder_removal::Classify(entry.attributes)) {
            case EntryKind::Link:
                RemoveLink(path, &parent, entry.name);
                break;
            case EntryKind::Folder:
                Enter(stack, path, &parent, entry.name);
                break;
            case EntryKind::File:
                RemoveFile(path, parent, entry.name);
                break;
        }
    }
}
