#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "DownloadManager.h"
#include "TransferSupport.h"
#include "util/SystemError.h"

namespace download {

void Fail(const std::wstring& text) { throw Failure{text}; }

void FailWithCode(const wchar_t* what, DWORD code) { throw Failure{DescribeFailure(what, code)}; }

bool ParseContentLength(const wchar_t* text, uint64_t& value) {
    if (!text || !*text) return false;
    uint64_t n = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        const unsigned digit = static_cast<unsigned>(*p - L'0');
        if (n > (UINT64_MAX - digit) / 10) return false;
        n = n * 10 + digit;
    }
    value = n;
    return true;
}

void Progress::SetLength(bool known, uint64_t length) {
    known_ = known;
    length_ = known ? length : 0;
    if (!known && window_) ::PostMessageW(window_, WM_DOWNLOAD_SIZE_UNKNOWN, 0, 0);
}

void Progress::Add(uint64_t bytes) {
    if (!known_ || length_ == 0) return;
    progress_ += static_cast<double>(bytes) / static_cast<double>(length_);
    if (progress_ - lastPosted_ > 0.01) {
        // A body longer than announced fails later; the per cent stays in range.
        const double percent = std::min(progress_ * 100.0, 100.0);
        if (window_) ::PostMessageW(window_, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(static_cast<UINT32>(percent)), 0);
        lastPosted_ = progress_;
    }
}

void Progress::Complete() {
    if (known_ && length_ > 0 && window_) ::PostMessageW(window_, WM_DOWNLOAD_PROGRESS, 100, 0);
}

PartFile::PartFile(const std::wstring& finalPath)
    : finalPath_(finalPath), partPath_(finalPath.empty() ? std::wstring() : DownloadManager::PartPath(finalPath)) {}

PartFile::~PartFile() {
    file_.Reset();
    if (committed_ || partPath_.empty()) return;
    ::SetFileAttributesW(partPath_.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only leftover too
    ::DeleteFileW(partPath_.c_str());
}

bool PartFile::Create(DWORD& error) {
    if (partPath_.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    // A leftover that became read-only or hidden would refuse CREATE_ALWAYS,
    // or hand its attributes on to the download; usually there is none.
    ::SetFileAttributesW(partPath_.c_str(), FILE_ATTRIBUTE_NORMAL);
    file_.Reset(::CreateFileW(partPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        error = ::GetLastError();
        return false;
    }
    return true;
}

void PartFile::Write(const void* data, DWORD size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file_.Get(), p, size, &written, nullptr)) FailWithCode(L"Failed to write to file", ::GetLastError());
        if (written == 0) FailWithCode(L"Failed to write to file", ERROR_WRITE_FAULT);
        p += written;
        size -= written;
    }
}

void PartFile::CheckLength(uint64_t length, const wchar_t* openFailure, bool withCode) {
    file_.Reset();
    tamsel::FileHandle reader(::CreateFileW(partPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!reader || !::GetFileSizeEx(reader.Get(), &size)) {
        const DWORD error = ::GetLastError();
        if (withCode) FailWithCode(openFailure, error);
        Fail(openFailure);
    }
    const uint64_t written = static_cast<uint64_t>(size.QuadPart);
    if (written != length)
        Fail(L"Download was incomplete: content length: " + std::to_wstring(length) +
             L", downloaded: " + std::to_wstring(written));
}

void PartFile::Commit() {
    file_.Reset();
    if (!::MoveFileExW(partPath_.c_str(), finalPath_.c_str(), MOVEFILE_REPLACE_EXISTING))
        FailWithCode(L"Failed to move the file into place", ::GetLastError());
    committed_ = true;
}

void RefuseEscapingName(const std::wstring& name) {
    if (!name.empty() && !DownloadManager::IsPlainFileName(name)) Fail(L"Not a plain file name: \"" + name + L"\"");
}

void OpenTarget(PartFile& part, const std::wstring& path, DWORD pathError, const std::wstring& name) {
    if (path.empty()) FailWithCode(L"Failed to open file for writing", pathError ? pathError : ERROR_PATH_NOT_FOUND);
    // The body goes to a part file first; refuse now what the final name could never take.
    if (name.find_first_of(L"<>\"|?*") != std::wstring::npos) FailWithCode(L"Failed to open file for writing", ERROR_INVALID_NAME);
    DWORD error = 0;
    if (!part.Create(error)) FailWithCode(L"Failed to open file for writing", error);
}

std::wstring ExtendedLengthPath(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    // The extended form skips all normalisation: resolve "..", "." and "/" first.
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

void PauseUnlessCancelled(DWORD milliseconds, const std::atomic<bool>& cancelled) {
    constexpr DWORD slice = 50;
    for (DWORD waited = 0; waited < milliseconds && !cancelled; waited += slice)
        ::Sleep(std::min(slice, milliseconds - waited));
}

}  // namespace download

std::wstring DownloadManager::TargetName(const std::wstring& url, const std::wstring& fileName) {
    if (!fileName.empty()) return fileName;
    const size_t slash = url.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : url.substr(slash + 1);
}

bool DownloadManager::IsPlainFileName(const std::wstring& name) {
    if (name.empty() || name.size() >= MAX_PATH) return false;
    for (wchar_t c : name) {
        if (c < 0x20 || c == L'\\' || c == L'/' || c == L':') return false;
    }
    // The system drops trailing dots and spaces, so ".." and "x. " are not what they seem.
    if (name.back() == L'.' || name.back() == L' ') return false;
    // Device names open the device whatever the folder or extension.
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = static_cast<wchar_t>(::towupper(c));
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* device : devices) {
        if (base == device) return false;
    }
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
        base[3] >= L'0' && base[3] <= L'9')
        return false;
    return true;
}

bool DownloadManager::AppendPathComponent(std::wstring& path, const std::wstring& name) {
    if (path.size() >= MAX_PATH || name.size() >= MAX_PATH) return false;
    wchar_t buffer[MAX_PATH] = {};
    std::copy(path.begin(), path.end(), buffer);
    if (!::PathAppendW(buffer, name.c_str())) return false;
    buffer[MAX_PATH - 1] = L'\0';
    path.assign(buffer);
    return true;
}

namespace {

// FNV-1a over the UTF-16 units: the same name gives the same part file on every run.
uint32_t NameDigest(const std::wstring& name) {
    uint32_t hash = 2166136261u;
    for (wchar_t c : name) {
        const auto unit = static_cast<uint16_t>(c);
        hash = (hash ^ (unit & 0xFFu)) * 16777619u;
        hash = (hash ^ (unit >> 8)) * 16777619u;
    }
    return hash;
}

}  // namespace

std::wstring DownloadManager::PartPath(const std::wstring& finalPath) {
    constexpr size_t longest = MAX_PATH - 1;
    const std::wstring suffix = kPartSuffix;
    if (finalPath.size() + suffix.size() <= longest) return finalPath + suffix;

    const size_t slash = finalPath.find_last_of(L"\\/");
    const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    const std::wstring name = finalPath.substr(nameStart);
    wchar_t tag[10] = {};
    std::swprintf(tag, 10, L"~%08X", static_cast<unsigned>(NameDigest(name)));
    const size_t fixed = nameStart + std::wcslen(tag) + suffix.size();
    if (fixed <= longest) {
        size_t keep = std::min(name.size(), longest - fixed);
        // Never half a surrogate pair.
        if (keep > 0 && IS_HIGH_SURROGATE(name[keep - 1])) --keep;
        return finalPath.substr(0, nameStart) + name.substr(0, keep) + tag + suffix;
    }
    // A folder this deep leaves no room for any recognisable short name.
    return download::ExtendedLengthPath(finalPath) + suffix;
}

DownloadManager::Target DownloadManager::PrepareTarget(const std::wstring& url, const std::wstring& fileName,
                                                       bool useTempFolder) {
    Target target;
    std::wstring folder = useTempFolder ? tempFolder : downloadFolder;
    if (folder.empty() || !::PathIsDirectoryW(folder.c_str())) {
        target.error = ::GetLastError();
        if (showMessage) showMessage(L"Invalid path");
        return target;
    }
    const std::wstring name = TargetName(url, fileName);
    if (!IsPlainFileName(name)) {
        target.error = ERROR_INVALID_NAME;
        return target;
    }
    ::SetLastError(0);
    if (!AppendPathComponent(folder, name)) {
        target.error = ::GetLastError() ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return target;
    }
    target.path = folder;
    return target;
}

std::wstring DownloadManager::BuildTargetPath(const std::wstring& url, const std::wstring& fileName,
                                              bool useTempFolder) {
    return PrepareTarget(url, fileName, useTempFolder).path;
}
