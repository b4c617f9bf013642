#include <windows.h>

#include <ctime>

#include "Package.h"
#include "util/Handles.h"
#include "util/Text.h"

bool SplitDateMarkerPath(const std::string& pnr, std::wstring& keyPath, std::wstring& valueName) {
    const size_t slash = pnr.rfind('\\');
    if (slash == std::string::npos) return false;
    keyPath = Utf8ToWide(pnr.substr(0, slash));
    valueName = Utf8ToWide(pnr.substr(slash + 1));
    return !keyPath.empty();
}

uint32_t DateMarkerValue(int64_t nowUnixSeconds) {
    const __time64_t then = nowUnixSeconds + 180LL * 86400;
    std::tm local{};
    if (_localtime64_s(&local, &then) != 0) return 0;
    return static_cast<uint32_t>((local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday);
}

bool Package::WriteDateMarker() const {
    std::wstring keyPath, valueName;
    try {
        if (!SplitDateMarkerPath(push.pnr, keyPath, valueName)) return false;
    } catch (const std::exception&) {
        return false;
    }
    const DWORD value = DateMarkerValue(_time64(nullptr));
    if (value == 0) return false;
    HKEY created = nullptr;
    // The process's own 32-bit view, where the eligibility check reads it back.
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                          nullptr, &created, nullptr) != ERROR_SUCCESS)
        return false;
    const tamsel::RegKey key(created);
    return ::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value) == ERROR_SUCCESS;
}
