// File operations on names relative to the current directory, with Windows error codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Error codes the shared logic compares against, with their Windows values on every target.
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorOutOfMemory = 14;
constexpr int kErrorFileExists = 80;

// Every operation returns 0 on success, otherwise the platform error code (errno mapped to the
// codes above where one fits, other values passed through).

// Creates fileName as a new empty file and closes it again; fails with kErrorFileExists when
// the name is taken.
int createNewFile(const char* fileName);

// Both copies go through a side file of the calling process, processPrivateName of
// partialCopyName(to), renamed onto to at the end: a copy cut short (a failure, a killed
// process) never leaves a truncated to behind, at most a side file that abandonedPrivateNames
// of partialCopyName(to) finds once its process has ended.
inline std::string partialCopyName(const char* fileName) { return std::string(fileName) + ".part"; }

// Copies from onto to, replacing an existing to. Two processes copying onto the same name at
// once each leave a whole copy.
int copyFileReplacing(const char* from, const char* to);

// Copies from to to, failing with kErrorFileExists when to exists (also when another process
// puts it there while the copy runs).
int copyFileIfAbsent(const char* from, const char* to);

int deleteFile(const char* fileName);

// Renames from to to; fails with kErrorFileExists when to exists (the Windows move semantics).
int renameFile(const char* from, const char* to);

struct FileInfo {
    int64_t size;               // in bytes
    int64_t secondsSinceWrite;  // since its last write, by the system clock
};

int fileInfo(const char* fileName, FileInfo* info);

// fileName followed by the calling process's identity: a name no other living process uses.
std::string processPrivateName(const char* fileName);

// The process identity in a name processPrivateName(fileName) gave; 0 for any other name.
inline unsigned long privateNameOwner(const std::string& name, const char* fileName) {
    std::string stem = std::string(fileName) + ".";
    if (name.size() <= stem.size() || name.size() > stem.size() + 10 || name.compare(0, stem.size(), stem) != 0)
        return 0;
    unsigned long owner = 0;
    for (size_t i = stem.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        owner = owner * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    return owner;
}

// Adds to names the files of the current directory that processPrivateName(fileName) gave to
// processes no longer running.
int abandonedPrivateNames(const char* fileName, std::vector<std::string>* names);

// The code of the calling thread's most recent failed platform call (loading a library included).
int lastErrorCode();

}  // namespace platform
