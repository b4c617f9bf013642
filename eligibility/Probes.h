#pragma once
// Measurements of the machine that the offer rules compare with. The costly or
// stable ones are kept in a ProbeCache that lives as long as one filter run;
// a failed measurement keeps nothing, so the next offer measures again.
#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Registry.h"
#include "util/Wow64.h"
#include "config/FolderPlaceholders.h"
#include "util/Clock.h"

// A measurement in its unit, or the reason text reported when it failed.
struct Measurement {
    bool ok = false;
    uint64_t value = 0;
    std::string failure;
};

struct AppPathRecord {
    HKEY root = nullptr;
    REGSAM view = win32::kDefaultView;  // or KEY_WOW64_64KEY
    std::wstring path;   // the executable, once resolved
    bool resolved = false;
};
// Lower-cased App Paths names; records of one name in the order found.
using AppPathsIndex = std::multimap<std::wstring, AppPathRecord>;

// Where the cached measurements come from: the machine's own by default;
// tests point them at places they make, so that the failures can be seen.
struct ProbeSources {
    // GlobalMemoryStatusEx, or a call with its contract.
    BOOL(WINAPI* memoryStatus)(LPMEMORYSTATUSEX) = ::GlobalMemoryStatusEx;
    // The key that holds "~MHz", opened in the native view.
    HKEY processorRoot = HKEY_LOCAL_MACHINE;
    std::string processorKey = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
    // The folder whose drive is measured; none: the default user's desktop.
    std::optional<std::wstring> diskFolder;
};

struct ProbeCache {
    ProbeSources sources;
    bool memoryMeasured = false;
    uint64_t totalMemoryMiB = 0;
    bool processorMeasured = false;
    uint32_t processorMHz = 0;
    bool diskMeasured = false;
    uint64_t freeDiskMiB = 0;
    std::vector<std::wstring> runningProcesses;  // empty: not taken yet
    AppPathsIndex appPaths;                      // empty: not built yet
    win32::SoftwareSubkeyCache softwareSubkeys;
    FolderPlaceholderList folders;  // expands the browser's install folders
};

// Total physical memory in whole MiB.
Measurement ProbeTotalMemory(ProbeCache& cache);
// Clock of processor 0 in MHz, as the registry records it.
Measurement ProbeProcessorSpeed(ProbeCache& cache);
// MiB available to this user on the drive of the default user's desktop.
Measurement ProbeFreeDiskSpace(ProbeCache& cache);

bool IsWindowsAtLeast(DWORD major, DWORD minor);

// Executable names of the running processes, with the system's capitals.
const std::vector<std::wstring>& ProbeRunningProcesses(ProbeCache& cache);

// Files and folders both count; an unexpanded placeholder is simply not found.
bool AnyPathExists(const std::vector<std::wstring>& paths);

bool ProbeChromePresent(ProbeCache& cache);

struct IeVersion {
    bool found = false;
    float version = 0.0f;
};
// The leading number of Internet Explorer's "Version" ("9.11.19041.0" is
// 9.11), read as wcstof reads it: 0 without a number, infinity past the range.
IeVersion ProbeIeVersion(ProbeCache& cache);

// Whether an App Paths registration of this name (exact, lower case) points at
// an existing executable, in either root or view.
bool IsAppRegistered(ProbeCache& cache, const std::wstring& name);

// "YYYYMMDD" of that moment in the local time zone; "" when it has none.
std::wstring LocalDate(int64_t unixSeconds);
std::wstring TodayLocalDate();
