#include "Probes.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "config/FolderPlaceholders.h"
#include "util/Handles.h"
#include "util/KnownFolders.h"

namespace {

const wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

Measurement Measured(uint64_t value) {
    Measurement m;
    m.ok = true;
    m.value = value;
    return m;
}

Measurement Failed(std::string reason) {
    Measurement m;
    m.failure = std::move(reason);
    return m;
}

void BuildAppPathsIndex(AppPathsIndex& index) {
    std::vector<REGSAM> views{win32::kDefaultView};
    if (IsUnderWow64()) views.push_back(KEY_WOW64_64KEY);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (REGSAM view : views) {
            tamsel::RegKey key;
            if (::RegOpenKeyExW(root, kAppPaths, 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) continue;
            try {
                for (std::wstring& name : win32::EnumerateSubkeys(key.Get())) {
                    index.emplace(std::move(name), AppPathRecord{root, view, std::wstring(), false});
                }
            } catch (const win32::RegistryError&) {
            }
        }
    }
}

std::wstring ReadAppPath(const AppPathRecord& record, const std::wstring& name) {
    tamsel::RegKey key;
    const std::wstring subkey = std::wstring(kAppPaths) + L"\\" + name;
    if (::RegOpenKeyExW(record.root, subkey.c_str(), 0, KEY_READ | record.view, key.Put()) != ERROR_SUCCESS) {
        return std::wstring();
    }
    try {
        return win32::ReadStringValue(key.Get(), std::wstring(), std::wstring());
    } catch (const win32::RegistryError&) {
        return std::wstring();
    }
}

}  // namespace

Measurement ProbeTotalMemory(ProbeCache& cache) {
    if (cache.memoryMeasured) return Measured(cache.totalMemoryMiB);
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!cache.sources.memoryStatus(&status)) {
        const DWORD code = ::GetLastError();
        return Failed("RAM CHECK FAILED " + std::to_string(code));
    }
    cache.totalMemoryMiB = status.ullTotalPhys >> 20;
    cache.memoryMeasured = true;
    return Measured(cache.totalMemoryMiB);
}

Measurement ProbeProcessorSpeed(ProbeCache& cache) {
    if (cache.processorMeasured) return Measured(cache.processorMHz);
    tamsel::RegKey key;
    if (::RegOpenKeyExA(cache.sources.processorRoot, cache.sources.processorKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                        key.Put()) != ERROR_SUCCESS) {
        return Failed("CPU CHECK FAILED: Couldn't open registry");
    }
    DWORD mhz = 0;
    DWORD size = sizeof mhz;
    if (::RegQueryValueExA(key.Get(), "~MHz", nullptr, nullptr, reinterpret_cast<BYTE*>(&mhz), &size) !=
        ERROR_SUCCESS) {
        return Failed("CPU CHECK FAILED: Couldn't read value");
    }
    cache.processorMHz = mhz;
    cache.processorMeasured = true;
    return Measured(cache.processorMHz);
}

Measurement ProbeFreeDiskSpace(ProbeCache& cache) {
    if (cache.diskMeasured) return Measured(cache.freeDiskMiB);
    // The default profile's desktop: where a fresh user's files would go,
    // whichever drive the current user's own desktop sits on.
    const std::wstring folder =
        cache.sources.diskFolder ? *cache.sources.diskFolder : GetKnownFolderPath(FOLDERID_Desktop, true);
    const std::wstring root = folder.substr(0, 3);
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) {
        const DWORD code = ::GetLastError();
        return Failed("DISK SPACE CHECK FAILED " + std::to_string(code));
    }
    cache.freeDiskMiB = available.QuadPart >> 20;
    cache.diskMeasured = true;
    return Measured(cache.freeDiskMiB);
}

bool IsWindowsAtLeast(DWORD major, DWORD minor) {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    wanted.wServicePackMajor = 0;
    DWORDLONG condition = 0;
    condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, condition) !=
           FALSE;
}

const std::vector<std::wstring>& ProbeRunningProcesses(ProbeCache& cache) {
    if (!cache.runningProcesses.empty()) return cache.runningProcesses;
    const tamsel::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return cache.runningProcesses;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::vector<std::wstring> names;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        names.emplace_back(entry.szExeFile, ::wcsnlen(entry.szExeFile, MAX_PATH));
    }
    cache.runningProcesses = std::move(names);
    return cache.runningProcesses;
}

bool AnyPathExists(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        if (::PathFileExistsW(path.c_str())) return true;
    }
    return false;
}

bool ProbeChromePresent(ProbeCache& cache) {
    std::vector<std::wstring> candidates{
        ExpandPlaceholders(L"{commonpf}\\Chromium\\Application\\chrome.exe", cache.folders),
        ExpandPlaceholders(L"{commonpf}\\Google\\Chrome\\Application\\chrome.exe", cache.folders),
        ExpandPlaceholders(L"{localappdata}\\Chromium\\Application\\chrome.exe", cache.folders),
    };
    std::wstring folder;
    if (win32::ReadValueAsText(L"hkey_local_machine", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\chrome.exe",
                               L"Path", folder, cache.softwareSubkeys)) {
        candidates.push_back(folder + L"\\chrome.exe");
    }
    std::wstring beacon;
    if (win32::ReadValueAsText(L"hkey_current_user", L"SOFTWARE\\Google\\Chrome\\BLBeacon", L"Path", beacon,
                               cache.softwareSubkeys)) {
        candidates.push_back(beacon);
    }
    return AnyPathExists(candidates);
}

IeVersion ProbeIeVersion(ProbeCache& cache) {
    std::wstring text;
    IeVersion ie;
    if (!win32::ReadValueAsText(L"hkey_local_machine", L"SOFTWARE\\Microsoft\\Internet Explorer", L"Version", text,
                                cache.softwareSubkeys)) {
        return ie;
    }
    ie.found = true;
    // wcstof never throws: no number reads as 0, one out of range as
    // infinity, so a strange registry text cannot end the whole check.
    ie.version = std::wcstof(text.c_str(), nullptr);
    return ie;
}

bool IsAppRegistered(ProbeCache& cache, const std::wstring& name) {
    if (cache.appPaths.empty()) BuildAppPathsIndex(cache.appPaths);
    const auto [first, last] = cache.appPaths.equal_range(name);
    for (auto it = first; it != last; ++it) {
        AppPathRecord& record = it->second;
        if (!record.resolved) {
            record.path = ReadAppPath(record, name);
            record.resolved = true;
        }
        if (!record.path.empty() && ::PathFileExistsW(record.path.c_str())) return true;
    }
    return false;
}

std::wstring LocalDate(int64_t unixSeconds) {
    const uint32_t date = LocalDateNumber(unixSeconds);
    return date == 0 ? std::wstring() : std::to_wstring(date);
}

std::wstring TodayLocalDate() { return LocalDate(CurrentUnixSeconds()); }
