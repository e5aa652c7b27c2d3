#include "log.h"

#include "files.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "threadid.h"

const LogSettings tavo2LogSettings = {"tavodll_%04d-%02d-%02d.log", true, "ERROR", {"DEBUG", "ERROR", "ERROR"}};

const char* logLevelWord(const LogSettings& settings, int level) {
    if (level >= 1 && level <= 3) return settings.levelWords[level - 1];
    return settings.otherLevelWord;
}

namespace {

void reportToOutput(const char* format, const char* fileName) {
    std::fprintf(platform::standardStream(platform::StandardStream::Output), format, fileName);
}

}  // namespace

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

    // The whole entry in one piece, so that it reaches the file in one write.
    char entry[1024];
    const int prefixLength = static_cast<int>(std::strlen(prefix));
    std::memcpy(entry, prefix, prefixLength);
    int messageLength = 0;
    char* message = entry + prefixLength;
    char* longEntry = nullptr;
    if (format != nullptr) {
        va_list again;
        va_copy(again, args);
        messageLength = std::vsnprintf(message, sizeof entry - prefixLength, format, args);
        if (messageLength < 0) messageLength = 0;
        if (messageLength >= static_cast<int>(sizeof entry) - prefixLength) {
            longEntry = static_cast<char*>(std::malloc(prefixLength + static_cast<size_t>(messageLength) + 1));
            if (longEntry != nullptr) {
                std::memcpy(longEntry, prefix, prefixLength);
                std::vsnprintf(longEntry + prefixLength, static_cast<size_t>(messageLength) + 1, format, again);
            } else {
                messageLength = static_cast<int>(sizeof entry) - prefixLength - 1;  // what fitted
            }
        }
        va_end(again);
    }
    const platform::AppendResult result = platform::appendEntry(fileName, longEntry ? longEntry : entry,
                                                                static_cast<size_t>(prefixLength + messageLength));
    std::free(longEntry);
    if (result == platform::AppendResult::NotOpened)
        reportToOutput("Il file '%s' non e' stato aperto\n", fileName);
    else if (result == platform::AppendResult::NotClosed)
        reportToOutput("Il file '%s' non e' stato chiuso\n", fileName);
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
