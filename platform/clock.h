// Wall-clock readings: local calendar time for log entries, UTC file time for codes.
#pragma once

#include <cstdint>

namespace platform {

struct LocalTime {
    int year;
    int month;  // 1-12
    int day;    // 1-31
    int hour;   // 0-23
    int minute;
    int second;
    int millisecond;
};

// The current local date and time with millisecond resolution.
LocalTime localTimeNow();

// The current UTC time in 100-nanosecond units since 1601-01-01 (Windows file time).
int64_t utcFileTimeNow();

}  // namespace platform
