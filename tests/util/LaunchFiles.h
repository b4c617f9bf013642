#pragma once
// Files and folders the launch tests work on: a folder of their own in the
// prefix's temporary folder, removed afterwards, and the programs and
// archives built beside the test program.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/TestEnvironment.h"
#include "util/FolderRemoval.h"
#include "util/Handles.h"

namespace launchtest {

inline std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += (c < 0x80) ? static_cast<char>(c) : '?';
    return out;
}

inline bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool IsFolder(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Paths beyond MAX_PATH are reached in the "\\?\" form.
inline std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    const tamsel::FileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

inline std::string ReadBytes(const std::wstring& path) {
    const tamsel::FileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

// Names in folder, "." and ".." left out, in the order the system lists them.
inline std::vector<std::wstring> List(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const tamsel::FindHandle search(::FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search.Get(), &entry));
    return names;
}

// Polls for what another process brings about; false if it never happens.
inline bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 600; ++i) {
        if (condition()) return true;
        ::Sleep(50);
    }
    return condition();
}

// The child program and the archives made from it at build time.
inline std::wstring ChildProgram() { return testenv::ProgramFolder() + L"\\TamselLaunchChild.exe"; }
inline std::wstring Fixture(const std::wstring& name) { return testenv::ProgramFolder() + L"\\launch-fixtures\\" + name; }

// A new folder in the temporary folder, with everything in it removed at the end.
class TempFolder {
public:
    TempFolder() {
        static int serial = 0;
        wchar_t temp[MAX_PATH];
        const DWORD n = ::GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp, n) + L"tamsel-launch-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++serial);
        RemoveFolderTree(path_);
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() { RemoveFolderTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

}  // namespace launchtest
