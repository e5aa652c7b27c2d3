#include "host_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "test_support.h"

HostRun runHost(const std::vector<std::string>& commands, const std::string& asanOptions) {
    std::vector<std::string> args = {TAVO2_HOST, TAVO2_LIBRARY};
    args.insert(args.end(), commands.begin(), commands.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        int capture = open("host-stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(capture, 1);
        close(capture);
        // The JVM handles its own SIGSEGV and keeps allocations to the end: let it.
        std::string options = "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
        if (!asanOptions.empty()) options += ":" + asanOptions;
        setenv("ASAN_OPTIONS", options.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    HostRun run;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    std::istringstream results(readFile("host.out"));
    for (std::string line; std::getline(results, line);) run.results.push_back(line);
    run.logText = readFile(todaysLogName());
    run.log = logEntries(run.logText);
    run.stdoutLog = readFile("stdout.log");
    run.stderrLog = readFile("stderr.log");
    run.hostStdout = readFile("host-stdout.txt");
    return run;
}

void writeConfig(const std::string& text) { writeFile("tavodll_classpath.conf", text); }

namespace {

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "XXXXXXXX [dd/mm/yyyy hh:mm:ss:mmm] LEVEL - " at pos: its length and level, or 0.
size_t prefixAt(const std::string& text, size_t pos, std::string& level) {
    static const char shape[] = "HHHHHHHH [dd/dd/dddd dd:dd:dd:ddd] ";
    const size_t shapeLength = sizeof shape - 1;
    if (text.size() - pos < shapeLength) return 0;
    for (size_t i = 0; i < shapeLength; ++i) {
        char want = shape[i];
        char have = text[pos + i];
        bool ok = want == 'H' ? isUpperHex(have) : want == 'd' ? isDigit(have) : have == want;
        if (!ok) return 0;
    }
    for (const char* word : {"DEBUG - ", "ERROR - "}) {
        if (text.compare(pos + shapeLength, std::strlen(word), word) == 0) {
            level = std::string(word, 5);
            return shapeLength + std::strlen(word);
        }
    }
    return 0;
}

}  // namespace

std::vector<std::string> logEntries(const std::string& text) {
    std::vector<std::string> entries;
    std::string level;
    std::string nextLevel;
    size_t messageStart = std::string::npos;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        size_t length = prefixAt(text, pos, nextLevel);
        if (length == 0) continue;
        if (messageStart != std::string::npos) {
            entries.push_back(level + " - " + text.substr(messageStart, pos - messageStart));
        } else if (pos > 0) {
            entries.push_back("? " + text.substr(0, pos));
        }
        level = nextLevel;
        messageStart = pos + length;
        pos += length - 1;
    }
    if (messageStart != std::string::npos) entries.push_back(level + " - " + text.substr(messageStart));
    return entries;
}

std::vector<std::string> entryThreadIds(const std::string& text, const std::string& messageStart) {
    std::vector<std::string> ids;
    std::string level;
    for (size_t pos = 0; pos < text.size(); ++pos) {
        size_t length = prefixAt(text, pos, level);
        if (length != 0 && text.compare(pos + length, messageStart.size(), messageStart) == 0)
            ids.push_back(text.substr(pos, 8));
    }
    return ids;
}

int findRun(const std::vector<std::string>& entries, const std::vector<std::string>& expected) {
    if (expected.size() > entries.size()) return -1;
    for (size_t i = 0; i + expected.size() <= entries.size(); ++i) {
        size_t k = 0;
        while (k < expected.size() && entries[i + k] == expected[k]) ++k;
        if (k == expected.size()) return static_cast<int>(i);
    }
    return -1;
}

int countEntries(const std::vector<std::string>& entries, const std::string& entry) {
    int count = 0;
    for (const auto& each : entries) count += each == entry ? 1 : 0;
    return count;
}
