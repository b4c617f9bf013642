#include "ArchiveLaunch.h"

#include <shldisp.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <new>

#include "Handles.h"

namespace {

// The Shell application object and the interfaces asked of it.
const CLSID kShellApplication = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kShellDispatch = {0xD8F015C0, 0xC278, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID kDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI: no
// window and no question may stop an unattended unpack.
constexpr long kCopyOptions = 0x614;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring InFolder(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || IsSeparator(folder.back())) return folder + name;
    return folder + L'\\' + name;
}

// The variant borrows the string; nothing to clear.
VARIANT StringVariant(BSTR s) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = s;
    return v;
}

BSTR AllocComString(const std::wstring& s) {
    if (s.size() > UINT_MAX) throw std::bad_alloc();
    BSTR copy = ::SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    if (!copy) throw std::bad_alloc();
    return copy;
}

// Device names open the device, whatever the folder or extension.
bool IsDeviceName(const std::wstring& name) {
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : devices) {
        if (stem == device) return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'0' && stem[3] <= L'9';
}

// A folder of its own, not a file and not a link that leads elsewhere.
bool IsPlainFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// "*.exe" also matches the short 8.3 names the system makes up, so
// "setup.exe_" can be listed for it.
bool HasExeExtension(const std::wstring& name) {
    if (name.size() < 4) return false;
    const wchar_t* tail = name.c_str() + name.size() - 4;
    return tail[0] == L'.' && (tail[1] == L'e' || tail[1] == L'E') && (tail[2] == L'x' || tail[2] == L'X') &&
           (tail[3] == L'e' || tail[3] == L'E');
}

}  // namespace

namespace archive_launch {

int ArchiveTypeOf(const unsigned char* bytes, size_t count) {
    static const unsigned char sevenZip[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
    static const unsigned char zip[4] = {0x50, 0x4B, 0x03, 0x04};
    if (count >= sizeof sevenZip && std::equal(sevenZip, sevenZip + sizeof sevenZip, bytes)) return kSevenZipArchive;
    if (count >= sizeof zip && std::equal(zip, zip + sizeof zip, bytes)) return kZipArchive;
    return kNotArchive;
}

std::wstring ExtractionFolderName(const std::wstring& archivePath) {
    const size_t separator = archivePath.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return std::wstring();
    std::wstring name = archivePath.substr(separator + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    // The system drops them anyway; what stays of ".." or ". ." is base itself.
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    if (name.empty() || name.size() >= MAX_PATH || IsDeviceName(name)) return std::wstring();
    for (wchar_t c : name) {
        if (c < 0x20 || std::wcschr(L"<>:\"|?*", c)) return std::wstring();
    }
    return name;
}

std::wstring JoinLaunchPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || name.empty()) return std::wstring();
    std::wstring joined = InFolder(folder, name);
    return joined.size() < MAX_PATH ? joined : std::wstring();
}

}  // namespace archive_launch

int DetectArchiveType(const std::wstring& path) {
    const tamsel::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return kNotArchive;
    unsigned char header[6] = {};
    DWORD read = 0;
    if (!::ReadFile(file.Get(), header, sizeof header, &read, nullptr) || read == 0) return kNotArchive;
    return archive_launch::ArchiveTypeOf(header, read);
}

std::wstring CreateExtractionFolder(const std::wstring& path, const std::wstring& base) {
    const std::wstring name = archive_launch::ExtractionFolderName(path);
    // An empty base would put the folder in the root of the current drive.
    if (name.empty() || base.empty()) return base;
    const std::wstring folder = InFolder(base, name);
    // The documented limit of a folder's path; Wine would make longer ones.
    if (folder.size() > MAX_PATH - 12) return base;
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS && IsPlainFolder(folder)) return folder;
    return base;
}

bool ExtractZip(BSTR archive, BSTR target) {
    // Declared first so that COM is uninitialised after every object below is released.
    const tamsel::ComScope com(COINIT_APARTMENTTHREADED);

    tamsel::ComPtr<IShellDispatch> shell;
    if (FAILED(::CoCreateInstance(kShellApplication, nullptr, CLSCTX_INPROC_SERVER, kShellDispatch,
                                  reinterpret_cast<void**>(shell.Put()))) ||
        !shell)
        return true;
    tamsel::ComPtr<Folder> source;
    tamsel::ComPtr<Folder> destination;
    if (FAILED(shell->NameSpace(StringVariant(archive), source.Put())) || !source) return true;
    if (FAILED(shell->NameSpace(StringVariant(target), destination.Put())) || !destination) return true;
    tamsel::ComPtr<FolderItems> items;
    if (FAILED(source->Items(items.Put())) || !items) return true;

    long count = 0;
    if (FAILED(items->get_Count(&count)) || count < 1) return false;
    tamsel::ComPtr<IDispatch> itemsDispatch;
    if (FAILED(items->QueryInterface(kDispatch, reinterpret_cast<void**>(itemsDispatch.Put()))) || !itemsDispatch)
        return false;

    VARIANT what;
    ::VariantInit(&what);
    what.vt = VT_DISPATCH;
    what.pdispVal = itemsDispatch.Get();  // borrowed: the owner releases it
    VARIANT options;
    ::VariantInit(&options);
    options.vt = VT_I4;
    options.lVal = kCopyOptions;
    return destination->CopyHere(what, options) == S_OK;
}

std::wstring FindFirstExe(const std::wstring& folder) {
    // A pattern cut to fit would search somewhere else.
    const std::wstring pattern = InFolder(folder, L"*.exe");
    if (folder.empty() || pattern.size() >= MAX_PATH) return std::wstring();
    WIN32_FIND_DATAW entry;
    const tamsel::FindHandle search(::FindFirstFileW(pattern.c_str(), &entry));
    if (!search) return std::wstring();
    do {
        const std::wstring name(entry.cFileName, ::wcsnlen(entry.cFileName, MAX_PATH));
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && HasExeExtension(name)) return name;
    } while (::FindNextFileW(search.Get(), &entry));
    return std::wstring();
}

std::wstring PrepareLaunchTarget(const std::wstring& path, int type, const std::wstring& base) {
    if (type != kZipArchive) return path;
    const std::wstring folder = CreateExtractionFolder(path, base);
    // Without a folder of its own the archive would be unpacked among the
    // run's other downloads, and one of their programs could be taken.
    if (folder == base) return path;

    const tamsel::ComString archive(AllocComString(path));
    const tamsel::ComString target(AllocComString(folder));
    if (!ExtractZip(archive.Get(), target.Get())) return path;

    const std::wstring program = archive_launch::JoinLaunchPath(folder, FindFirstExe(folder));
    return program.empty() ? path : program;
}
