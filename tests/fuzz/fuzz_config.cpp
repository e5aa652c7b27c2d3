// tavodll_classpath.conf: the line scanner over any bytes in any read sizes, and the reading of
// the real file, both against a plain reading of the whole text.
//
// Input: one byte choosing the read size (0 stands for the service's own 4095 bytes), one byte
// choosing how often the rest is repeated (so files pass 4095 bytes), then the text.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "clock.h"
#include "fuzz_support.h"
#include "tavo2.h"

namespace {

constexpr size_t kLargestFile = 3 * 4096;

struct Reading {
    std::vector<std::string> lines;
    std::vector<int> truncatedLines;
};

// LF or CR LF end a line, empty lines do not count, twenty lines at most, each cut to its
// first 4095 bytes.
Reading plainReading(const std::string& text) {
    Reading reading;
    std::string line;
    for (size_t i = 0; i <= text.size() && reading.lines.size() < static_cast<size_t>(kMaxConfigLines); ++i) {
        bool end = i == text.size();
        bool crlf = !end && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        if (end || text[i] == '\n' || crlf) {
            if (!line.empty()) {
                if (line.size() > kMaxConfigLineBytes)
                    reading.truncatedLines.push_back(static_cast<int>(reading.lines.size()));
                reading.lines.push_back(line.substr(0, kMaxConfigLineBytes));
            }
            line.clear();
            if (crlf) ++i;
        } else {
            line.push_back(text[i]);
        }
    }
    return reading;
}

Reading scanInReads(const std::string& text, size_t readSize) {
    ConfigScanner scanner;
    for (size_t at = 0; at < text.size(); at += readSize)
        scanConfigBytes(scanner, text.data() + at, std::min(readSize, text.size() - at));
    finishConfigScan(scanner);
    return {scanner.lines, scanner.truncatedLines};
}

void removeTodaysLog() {
    platform::LocalTime now = platform::localTimeNow();
    char name[32];
    std::snprintf(name, sizeof name, "tavodll_%04d-%02d-%02d.log", now.year, now.month, now.day);
    unlink(name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t readSize = data[0] == 0 ? kMaxConfigLineBytes : data[0];
    std::string piece(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string text;
    for (int copies = data[1] + 1; copies > 0 && text.size() + piece.size() <= kLargestFile; --copies) text += piece;

    Reading expected = plainReading(text);
    for (const std::string& line : expected.lines) FUZZ_CHECK(!line.empty() && line.find('\n') == std::string::npos);
    Reading whole = scanInReads(text, text.size() + 1);
    FUZZ_CHECK(whole.lines == expected.lines);
    FUZZ_CHECK(whole.truncatedLines == expected.truncatedLines);
    Reading pieces = scanInReads(text, readSize);
    FUZZ_CHECK(pieces.lines == expected.lines);
    FUZZ_CHECK(pieces.truncatedLines == expected.truncatedLines);

    // The file as the service reads it, in its own read size.
    InScratchDirectory scratch;
    FILE* file = std::fopen(kConfigFileName, "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), file) == text.size());
    FUZZ_CHECK(std::fclose(file) == 0);
    std::vector<std::string> lines;
    FUZZ_CHECK(getClassPath(lines));
    FUZZ_CHECK(lines == expected.lines);
    removeTodaysLog();
    return 0;
}
