#include <cstdarg>

#include "tavo2.h"

void writeLog(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLogWithV(tavo2LogSettings, level, format, args);
    va_end(args);
}
