#include "clock.h"

#include <time.h>

namespace platform {

namespace {
// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochSeconds = 11644473600LL;
}  // namespace

LocalTime localTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return LocalTime{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(now.tv_nsec / 1000000)};
}

int64_t utcFileTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<int64_t>(now.tv_sec) + kFileTimeEpochSeconds) * 10000000LL + now.tv_nsec / 100;
}

}  // namespace platform
