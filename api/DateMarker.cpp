#include <windows.h>

#include <cstdint>

#include "Package.h"
#include "util/Clock.h"
#include "util/Handles.h"
#include "util/Text.h"

bool SplitDateMarkerPath(const std::string& pnr, std::wstring& keyPath, std::wstring& valueName) {
    // UTF-8 keeps every "\\" a byte of its own, so splitting the wide text is the same.
    return SplitAtLastBackslash(Utf8ToWide(pnr), keyPath, valueName) && !keyPath.empty();
}

// The process's own default view, where the eligibility check reads the
// marker back: the 32-bit branch for the program, the 64-bit one for a 64-bit
// build of the same sources.
constexpr REGSAM kOwnDefaultView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

uint32_t DateMarkerValue(int64_t nowUnixSeconds) {
    constexpr int64_t kAhead = 180LL * 86400;
    if (nowUnixSeconds > INT64_MAX - kAhead) return 0;
    return LocalDateNumber(nowUnixSeconds + kAhead);
}

bool Package::WriteDateMarker() const {
    std::wstring keyPath, valueName;
    try {
        if (!SplitDateMarkerPath(push.pnr, keyPath, valueName)) return false;
    } catch (const std::exception&) {
        return false;
    }
    const DWORD value = DateMarkerValue(CurrentUnixSeconds());
    if (value == 0) return false;
    HKEY created = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE | kOwnDefaultView,
                          nullptr, &created, nullptr) != ERROR_SUCCESS)
        return false;
    const tamsel::RegKey key(created);
    return ::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value) == ERROR_SUCCESS;
}
