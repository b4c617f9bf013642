#include "Clock.h"

#include <windows.h>

namespace {
const uint64_t kTicksAt1970 = 116444736000000000ULL;  // 100 ns units from 1601 to 1970
}

int64_t CurrentUnixSeconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (static_cast<int64_t>(ticks) - static_cast<int64_t>(kTicksAt1970)) / 10000000;
}

uint32_t LocalDateNumber(int64_t unixSeconds) {
    // SYSTEMTIME ends with the year 30827; keep well inside it.
    if (unixSeconds < 0 || unixSeconds > 253402300799LL) return 0;
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds) * 10000000ULL + kTicksAt1970;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{}, local{};
    if (!::FileTimeToSystemTime(&utc, &universal)) return 0;
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return 0;
    return local.wYear * 10000u + local.wMonth * 100u + local.wDay;
}
