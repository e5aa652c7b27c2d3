// The daily log's entry under both deliverables' settings: for any time stamp, thread, level
// and message the entry lands in one file of a bounded name, as prefix plus message; for the
// time stamps a clock gives, name and prefix have their exact shape.
#include <dirent.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log.h"

namespace {

const LogSettings stubSettings = {"tavobridge_%04d-%02d-%02d.log", false, "DEBUG", {"DEBUG", "WARN", "ERROR"}};

std::vector<std::string> filesHere() {
    std::vector<std::string> names;
    DIR* directory = opendir(".");
    FUZZ_CHECK(directory != nullptr);
    while (dirent* found = readdir(directory))
        if (std::strcmp(found->d_name, ".") != 0 && std::strcmp(found->d_name, "..") != 0)
            names.push_back(found->d_name);
    closedir(directory);
    return names;
}

std::string contentOf(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Matches text against a shape: '#' a digit, 'x' an upper-case hex digit, anything else itself.
bool hasShape(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool ok = shape[i] == '#'   ? std::isdigit(c) != 0
                  : shape[i] == 'x' ? std::isdigit(c) != 0 || (c >= 'A' && c <= 'F')
                                    : text[i] == shape[i];
        if (!ok) return false;
    }
    return true;
}

int field(FuzzedDataProvider& input, bool likeAClock, int lowest, int highest) {
    return likeAClock ? input.ConsumeIntegralInRange(lowest, highest) : input.ConsumeIntegral<int>();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const LogSettings& settings = input.ConsumeBool() ? stubSettings : tavo2LogSettings;
    bool likeAClock = input.ConsumeBool();
    platform::LocalTime time;
    time.year = field(input, likeAClock, 1601, 9999);
    time.month = field(input, likeAClock, 1, 12);
    time.day = field(input, likeAClock, 1, 31);
    time.hour = field(input, likeAClock, 0, 23);
    time.minute = field(input, likeAClock, 0, 59);
    time.second = field(input, likeAClock, 0, 59);
    time.millisecond = field(input, likeAClock, 0, 999);
    uint32_t thread = input.ConsumeIntegral<uint32_t>();
    int level = input.ConsumeIntegral<int>();
    std::string message = input.ConsumeRemainingBytesAsString();
    InScratchDirectory scratch;
    writeLogEntryAt(settings, time, thread, level, "%s", message.c_str());

    std::vector<std::string> files = filesHere();
    FUZZ_CHECK(files.size() == 1);
    const std::string& name = files[0];
    const char* stemEnd = std::strchr(settings.fileNameFormat, '%');
    std::string stem(settings.fileNameFormat, stemEnd);
    FUZZ_CHECK(name.size() < 32 && name.compare(0, stem.size(), stem) == 0);

    std::string text = contentOf(name);
    std::string written(message.c_str());  // the message up to its first zero byte
    FUZZ_CHECK(text.size() >= written.size() && text.size() - written.size() < 64);
    FUZZ_CHECK(text.compare(text.size() - written.size(), written.size(), written) == 0);
    if (likeAClock) {
        FUZZ_CHECK(hasShape(name, stem + "####-##-##.log"));
        bool stub = &settings == &stubSettings;
        std::string word = level == 1   ? "DEBUG"
                           : !stub      ? "ERROR"
                           : level == 2 ? "WARN"
                           : level == 3 ? "ERROR"
                                        : "DEBUG";
        std::string shape =
            std::string(settings.threadIdInPrefix ? "xxxxxxxx " : "") + "[##/##/#### ##:##:##:###] " + word + " - ";
        FUZZ_CHECK(hasShape(text.substr(0, text.size() - written.size()), shape));
    }
    unlink(name.c_str());
    return 0;
}
