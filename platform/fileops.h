// File operations on names relative to the current directory, with Windows error codes.
#pragma once

#include <cstdint>

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

// Copies from onto to, replacing an existing to.
int copyFileReplacing(const char* from, const char* to);

int deleteFile(const char* fileName);

// Renames from to to; fails when to exists (the Windows move semantics).
int renameFile(const char* from, const char* to);

// The size in bytes of an existing file.
int fileSize(const char* fileName, int64_t* size);

// The code of the calling thread's most recent failed platform call (loading a library included).
int lastErrorCode();

}  // namespace platform
