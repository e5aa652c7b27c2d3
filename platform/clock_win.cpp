#include "clock.h"

#include <windows.h>

namespace platform {

LocalTime localTimeNow() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return LocalTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                     local.wMinute, local.wSecond, local.wMilliseconds};
}

int64_t utcFileTimeNow() {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    FILETIME file{};
    SystemTimeToFileTime(&utc, &file);
    return static_cast<int64_t>((static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
}

}  // namespace platform
