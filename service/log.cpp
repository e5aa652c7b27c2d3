#include "log.h"

#include "files.h"

#include <cstdio>

#include "threadid.h"

const LogSettings tavo2LogSettings = {"tavodll_%04d-%02d-%02d.log", true, "ERROR", {"DEBUG", "ERROR", "ERROR"}};

const char* logLevelWord(const LogSettings& settings, int level) {
    if (level >= 1 && level <= 3) return settings.levelWords[level - 1];
    return settings.otherLevelWord;
}

void writeLogEntry(const LogSettings& settings, const platform::LocalTime& time, uint32_t threadId, int level,
                   const char* format, va_list args) {
    // The longest prefix is 43 characters; the longest file name 23 for four-digit years.
    char prefix[64];
    int used = 0;
    if (settings.threadIdInPrefix)
        used = std::snprintf(prefix, sizeof prefix, "%08X ", static_cast<unsigned>(threadId));
    std::snprintf(prefix + used, sizeof prefix - used, "[%02d/%02d/%04d %02d:%02d:%02d:%03d] %s - ", time.day,
                  time.month, time.year, time.hour, time.minute, time.second, time.millisecond,
                  logLevelWord(settings, level));

    char fileName[32];
    std::snprintf(fileName, sizeof fileName, settings.fileNameFormat, time.year, time.month, time.day);

    FILE* file = std::fopen(fileName, "a+");
    if (file == nullptr) {
        std::fprintf(platform::standardStream(platform::StandardStream::Output), "Il file '%s' non e' stato aperto\n",
                     fileName);
        return;
    }
    // Prefix and message go through one stdio buffer, so they reach the file in one write.
    std::fputs(prefix, file);
    if (format != nullptr) std::vfprintf(file, format, args);
    if (std::fclose(file) != 0)
        std::fprintf(platform::standardStream(platform::StandardStream::Output), "Il file '%s' non e' stato chiuso\n",
                     fileName);
}

void writeLogEntryAt(const LogSettings& settings, const platform::LocalTime& time, uint32_t threadId, int level,
                     const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLogEntry(settings, time, threadId, level, format, args);
    va_end(args);
}

void writeLogWithV(const LogSettings& settings, int level, const char* format, va_list args) {
    writeLogEntry(settings, platform::localTimeNow(), platform::currentThreadId(), level, format, args);
}

void writeLogWith(const LogSettings& settings, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeLogWithV(settings, level, format, args);
    va_end(args);
}
