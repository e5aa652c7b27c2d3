// Reading a file of the current directory and redirecting the standard streams to files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Opens fileName, joined to the current directory with the platform's separator, for reading
// (shared for reading, only if it exists). Returns 0, or the platform error code.
int openCurrentDirectoryFile(const char* fileName, FileHandle* file);

// Reads up to size bytes; *bytesRead is 0 at end of file. Returns 0, or the platform error code.
int readFileChunk(FileHandle file, void* buffer, size_t size, size_t* bytesRead);

void closeFile(FileHandle file);

enum class StandardStream { Output, Error };

// Sends the stream to fileName in the current directory, truncating it. False when the file
// cannot be opened; the stream then stays where it was.
bool redirectStandardStream(StandardStream stream, const char* fileName);

// Closes the file a successful redirection opened; nothing when there is none.
void endStandardStreamRedirection(StandardStream stream);

}  // namespace platform
