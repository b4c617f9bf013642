#include "MachineFacts.h"

#include "Registry.h"

Measurement SystemFacts::FreeDiskSpaceMiB() { return ProbeFreeDiskSpace(cache_); }
Measurement SystemFacts::TotalMemoryMiB() { return ProbeTotalMemory(cache_); }
Measurement SystemFacts::ProcessorSpeedMHz() { return ProbeProcessorSpeed(cache_); }
bool SystemFacts::IsWindowsAtLeast(DWORD major, DWORD minor) { return ::IsWindowsAtLeast(major, minor); }
bool SystemFacts::IsUnderWow64() { return ::IsUnderWow64(); }
std::vector<std::wstring> SystemFacts::RunningProcesses() { return ProbeRunningProcesses(cache_); }
bool SystemFacts::AnyPathExists(const std::vector<std::wstring>& paths) { return ::AnyPathExists(paths); }
SystemFacts::SystemFacts(FolderPlaceholderList folders, ProbeSources sources) {
    cache_.folders = std::move(folders);
    cache_.sources = std::move(sources);
}

bool SystemFacts::ChromePresent() { return ProbeChromePresent(cache_); }
IeVersion SystemFacts::InternetExplorerVersion() { return ProbeIeVersion(cache_); }
bool SystemFacts::IsAppRegistered(const std::wstring& name) { return ::IsAppRegistered(cache_, name); }
int64_t SystemFacts::CurrentUnixSeconds() { return ::CurrentUnixSeconds(); }
std::wstring SystemFacts::TodayLocalDate() { return ::TodayLocalDate(); }

bool SystemFacts::KeyExists(const std::wstring& keyPath) { return win32::KeyExists(keyPath, cache_.softwareSubkeys); }

bool SystemFacts::ValueExists(const std::wstring& keyPath, const std::wstring& valueName) {
    const tamsel::RegKey key = win32::OpenValueKey(keyPath, cache_.softwareSubkeys);
    try {
        return key && win32::ValueExists(key.Get(), valueName);
    } catch (const win32::RegistryError&) {
        return false;
    }
}

bool SystemFacts::ValueDataEquals(const std::wstring& keyPath, const std::wstring& valueName,
                                  const std::wstring& expected) {
    const tamsel::RegKey key = win32::OpenValueKey(keyPath, cache_.softwareSubkeys);
    try {
        if (!key || !win32::ValueExists(key.Get(), valueName)) return false;
    } catch (const win32::RegistryError&) {
        return false;
    }
    const DWORD type = win32::QueryValueType(key.Get(), valueName);
    return type != 0 && win32::ValueDataEquals(key.Get(), valueName, type, expected);
}

bool SystemFacts::ReadValueAsText(const std::wstring& rootName, const std::wstring& subkey,
                                  const std::wstring& valueName, std::wstring& text) {
    return win32::ReadValueAsText(rootName, subkey, valueName, text, cache_.softwareSubkeys);
}
