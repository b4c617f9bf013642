#include "Clock.h"

#include <windows.h>

#include <cstdio>

namespace {

const uint64_t kTicksAt1970 = 116444736000000000ULL;  // 100 ns units from 1601 to 1970

// 100 ns units since 1970 from the system clock.
int64_t TicksSince1970() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<int64_t>(ticks) - static_cast<int64_t>(kTicksAt1970);
}

// The local time of a moment (time zone and the daylight-saving rule of its
// date applied); false outside 1970 to 9999 or when the system cannot say.
bool LocalTimeOf(int64_t unixSeconds, SYSTEMTIME& local) {
    // SYSTEMTIME ends with the year 30827; keep well inside it.
    if (unixSeconds < 0 || unixSeconds > 253402300799LL) return false;
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds) * 10000000ULL + kTicksAt1970;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME universal{};
    return ::FileTimeToSystemTime(&utc, &universal) && ::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
}

}  // namespace

int64_t CurrentUnixSeconds() { return TicksSince1970() / 10000000; }

int64_t CurrentUnixMilliseconds() { return TicksSince1970() / 10000; }

uint32_t LocalDateNumber(int64_t unixSeconds) {
    SYSTEMTIME local{};
    if (!LocalTimeOf(unixSeconds, local)) return 0;
    return local.wYear * 10000u + local.wMonth * 100u + local.wDay;
}

std::string LocalTimestamp(int64_t unixSeconds) {
    SYSTEMTIME local{};
    if (!LocalTimeOf(unixSeconds, local)) return std::string();
    char text[16];
    std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                  local.wMinute, local.wSecond);
    return text;
}
