#pragma once
#include <cstdint>
#include <string>

// Whole seconds since 1970-01-01 UTC from the system clock.
int64_t CurrentUnixSeconds();
// The local calendar date of that moment (time zone and the daylight-saving
// rule of that date applied) as year * 10000 + month * 100 + day; 0 when the
// moment lies before 1970 or past the year 9999, or the system cannot convert it.
uint32_t LocalDateNumber(int64_t unixSeconds);
// The local time of that moment as "%Y%m%d%H%M%S" (the run's timestamp); ""
// where LocalDateNumber gives 0.
std::string LocalTimestamp(int64_t unixSeconds);
// Milliseconds since 1970-01-01 UTC from the system clock.
int64_t CurrentUnixMilliseconds();
