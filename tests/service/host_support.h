// Running tavo2 inside a native host process (one JVM per process) and reading what it left.
#pragma once

#include <string>
#include <vector>

struct HostRun {
    int exitCode = -1;
    std::vector<std::string> results;  // host.out, one line per command
    std::vector<std::string> log;      // today's tavodll log, entries as "LEVEL - message"
    std::string logText;
    std::string stdoutLog;
    std::string stderrLog;
    std::string hostStdout;  // what reached the host's own standard output
};

// Runs the host in the current directory with the given commands; asanOptions are added to
// the host's AddressSanitizer options.
HostRun runHost(const std::vector<std::string>& commands, const std::string& asanOptions = "");

// "cp\n" style configuration text written to tavodll_classpath.conf.
void writeConfig(const std::string& text);

// Splits a log into entries "DEBUG - text" / "ERROR - text" (text keeps its own line ending);
// bytes before the first prefix become one "? " entry.
std::vector<std::string> logEntries(const std::string& text);

// Index where expected occurs as a consecutive run of entries, or -1.
// The thread ids of the entries whose message starts with messageStart.
std::vector<std::string> entryThreadIds(const std::string& text, const std::string& messageStart);

int findRun(const std::vector<std::string>& entries, const std::vector<std::string>& expected);
int countEntries(const std::vector<std::string>& entries, const std::string& entry);
