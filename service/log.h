// Daily log file shared by tavo2 and the tavo stub: every entry opens the day's file in the
// current directory, appends one prefixed line and closes it again. No state, no lock.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "clock.h"

#if defined(__GNUC__)
#define LOG_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define LOG_PRINTF_FORMAT(formatIndex, firstArg)
#endif

enum LogLevel { LOG_DEBUG = 1, LOG_WARN = 2, LOG_ERROR = 3 };

// What differs between the deliverables that write a daily log.
struct LogSettings {
    const char* fileNameFormat;  // printf format taking year, month, day
    bool threadIdInPrefix;       // "%08X " before the bracketed time stamp
    const char* otherLevelWord;  // any level but 1, 2 and 3
    const char* levelWords[3];   // levels 1, 2 and 3
};

// tavo2's own settings: "tavodll_YYYY-MM-DD.log", thread id, DEBUG for 1 and ERROR otherwise.
extern const LogSettings tavo2LogSettings;

void writeLogWith(const LogSettings& settings, int level, const char* format, ...) LOG_PRINTF_FORMAT(3, 4);
void writeLogWithV(const LogSettings& settings, int level, const char* format, va_list args) LOG_PRINTF_FORMAT(3, 0);

// One entry stamped with the given time and thread: what writeLogWith does after reading the
// clock. Exposed so tests can stamp entries at chosen moments.
void writeLogEntry(const LogSettings& settings, const platform::LocalTime& time, uint32_t threadId, int level,
                   const char* format, va_list args) LOG_PRINTF_FORMAT(5, 0);
void writeLogEntryAt(const LogSettings& settings, const platform::LocalTime& time, uint32_t threadId, int level,
                     const char* format, ...) LOG_PRINTF_FORMAT(5, 6);

// The word a level is written as under the given settings.
const char* logLevelWord(const LogSettings& settings, int level);
