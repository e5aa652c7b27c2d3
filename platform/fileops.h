// File operations on names relative to the current directory, with Windows error codes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Error codes the shared logic compares against, with their Windows values on every target.
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorOutOfMemory = 14;
constexpr int kErrorSharingViolation = 32;  // another process holds the file (or the lock)
constexpr int kErrorFileExists = 80;

// Every operation returns 0 on success, otherwise the platform error code (errno mapped to the
// codes above where one fits, other values passed through).

// The mark of every name the update makes besides the three it is given: no administrator
// names a file so, and the update touches no file of that shape it did not make.
constexpr char kPrivateMark[] = ".~tavo~";
inline std::string privateName(const char* fileName, const char* role) {
    return std::string(fileName) + kPrivateMark + role;
}

// The lock of the update: a file created in the current directory, holding the process id of
// its holder, locked by the system for as long as the holder lives, so a killed holder never
// leaves it held. Waits up to waitMilliseconds while another process holds it, then fails with
// kErrorSharingViolation. Release removes the file.
using FileLock = intptr_t;
int acquireFileLock(const char* fileName, int waitMilliseconds, FileLock* lock);
void releaseFileLock(const char* fileName, FileLock lock);

// The probe of a pending update: creates fileName as a new empty file (kErrorFileExists when
// the name is taken) carrying the probe's mark, so one a killed process left is known as such
// (isLeftoverProbe); removeProbe takes exactly that file away again.
using ProbeHandle = intptr_t;
int createProbe(const char* fileName, ProbeHandle* probe);
int removeProbe(const char* fileName, ProbeHandle probe);
bool isLeftoverProbe(const char* fileName);

// The side file a copy onto fileName is written to before it takes that name: a copy cut short
// (a failure, a killed process) never leaves a truncated fileName, at most this side file.
inline std::string partialCopyName(const char* fileName) { return privateName(fileName, "part"); }

// Copies from onto to through the side file, replacing an existing to in one step: to is the
// old file or the whole new one at every moment.
int copyFileReplacing(const char* from, const char* to);

// Copies from to to, failing with kErrorFileExists when to exists (also when another process
// puts it there while the copy runs).
int copyFileIfAbsent(const char* from, const char* to);

int deleteFile(const char* fileName);

// Renames from to to; fails with kErrorFileExists when to exists (the Windows move semantics).
int renameFile(const char* from, const char* to);

// Moves from onto to, replacing an existing to in one step and written through to the disk.
// Windows refuses while to is in use (a loaded library): the code of that refusal.
int replaceFile(const char* from, const char* to);

struct FileInfo {
    int64_t size;               // in bytes
    int64_t secondsSinceWrite;  // since its last write, by the system clock
};

int fileInfo(const char* fileName, FileInfo* info);

// The code of the calling thread's most recent failed platform call (loading a library included).
int lastErrorCode();

}  // namespace platform
