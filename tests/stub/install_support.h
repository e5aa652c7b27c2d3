// Helpers for tests that set up an installation (stub, service client, configuration) in a
// scratch directory and run host programs in it.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    int exitStatus;      // the low eight bits of the program's status; -1 when it did not exit normally
    std::string report;  // what the program wrote on file descriptor 3 (and 1 if captured)
    int signal = 0;      // the signal that ended it, if one did
};

struct RunOptions {
    // As the user "nobody" when the test runs as root, so directory permissions apply.
    bool unprivileged = false;
    // The process starts a JVM: LeakSanitizer cannot scan its memory, so leak checks are off
    // there (runs without a JVM keep them).
    bool hostsJvm = false;
    // The program keeps a block handed over to it until it exits (the stub's fallback text,
    // which callers of the interface never free): leak checks are off.
    bool keepsHandedOverBlock = false;
    // Standard output joins the report (for programs that print rather than report).
    bool captureStdout = false;
    // "NAME=value" entries added to the program's environment.
    std::vector<std::string> environment = {};
    // Standard output goes nowhere (many programs at once would bury the test's own output).
    bool quiet = false;
    // A pipe: the program starts only once every write end is closed, so that many programs can
    // be made to start together.
    int gate[2] = {-1, -1};
};

// A program started and not yet waited for: its process and the read end of its report.
struct StartedProgram {
    int pid;
    int report;
};

// Runs the program with the current directory inherited.
ProgramRun runProgram(const std::vector<std::string>& argv, RunOptions options = {});
// runProgram in two steps: the start, and the report read to its end with the program's end.
StartedProgram startProgram(const std::vector<std::string>& argv, const RunOptions& options);
ProgramRun finishProgram(StartedProgram program);

bool runningAsRoot();
// Makes "nobody" the owner of the file (as root; otherwise the file stays the caller's).
void handToNobody(const std::string& path);

// The local XML service (a JVM of its own, loopback only) for as long as the object lives.
struct LocalXmlService {
    LocalXmlService();
    ~LocalXmlService();
    LocalXmlService(const LocalXmlService&) = delete;
    LocalXmlService& operator=(const LocalXmlService&) = delete;
    std::string endpoint;  // empty when the service did not come up
    int pid = -1;
};

void copyFile(const std::string& from, const std::string& to);
bool fileExists(const std::string& path);

// The concatenated daily log files whose names start with prefix, in name order (a run that
// crosses midnight writes two).
std::string readDailyLogs(const std::string& prefix);

// The entries of a stub log as "LEVEL message" strings; entries without a line ending keep
// the next entry on their line, which the split undoes. An empty result marks a malformed log.
std::vector<std::string> stubLogEntries(const std::string& logText);

// The text with every transaction code of company "999" (its 13 symbols from the code
// alphabet) replaced by "<code>", so a report with codes compares exactly.
std::string maskCodes(const std::string& text);

// The configuration file for the real service client: class path first, then the JVM.
void writeServiceConfiguration(const std::string& classPath, const std::vector<std::string>& options = {});
