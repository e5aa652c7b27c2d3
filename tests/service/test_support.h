// Helpers shared by the service suites: scratch directories and whole-file reads.
#pragma once

#include <functional>
#include <string>

// A fresh directory under the system temp folder that becomes the current directory while it
// lives; the previous current directory is restored and the tree removed afterwards.
struct ScratchDirectory {
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    std::string path;
    std::string previous;
};

// The whole file, or "<missing>" when it cannot be read.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// What the action printed on standard output (through stdio and file descriptor 1).
std::string captureStdout(const std::function<void()>& action);

// The name of today's tavo2 log file.
std::string todaysLogName();
