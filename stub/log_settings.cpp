#include <cstdarg>

#include "stub.h"

namespace {
const LogSettings stubLogSettings = {"tavobridge_%04d-%02d-%02d.log", false, "DEBUG", {"DEBUG", "WARN", "ERROR"}};
}

void stubLog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLogWithV(stubLogSettings, level, format, args);
    va_end(args);
}
