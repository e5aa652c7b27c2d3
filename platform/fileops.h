// File operations on names relative to the current directory, with Windows error codes.
#pragma once

#include <cstdint>
#include <string>

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

// Copies from onto to, replacing an existing to. Two processes copying onto the same name at
// once each leave a whole copy.
int copyFileReplacing(const char* from, const char* to);

// Copies from to to, failing with kErrorFileExists when to exists (also when another process
// puts it there while the copy runs).
int copyFileIfAbsent(const char* from, const char* to);

int deleteFile(const char* fileName);

// Renames from to to; fails when to exists (the Windows move semantics).
int renameFile(const char* from, const char* to);

struct FileInfo {
    int64_t size;               // in bytes
    int64_t secondsSinceWrite;  // since its last write, by the system clock
};

int fileInfo(const char* fileName, FileInfo* info);

// fileName followed by the calling process's identity: a name no other living process uses.
std::string processPrivateName(const char* fileName);

// The code of the calling thread's most recent failed platform call (loading a library included).
int lastErrorCode();

}  // namespace platform
