// Reading a file of the current directory and redirecting the standard streams to files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// Sends the library's own stream to fileName in the current directory, truncating it. False
// when the file cannot be opened; the stream then stays where it was. The host's streams stay
// its own: on Windows the library writes to a stream of its own (the host may share the C
// runtime's streams with it), on POSIX the descriptor is moved and given back afterwards.
bool redirectStandardStream(StandardStream stream, const char* fileName);

// Closes the file a successful redirection opened; nothing when there is none.
void endStandardStreamRedirection(StandardStream stream);

// Where the library's own output to the stream goes: the redirection's file, or the process's
// stream when there is none. Written from any thread once the library is attached.
std::FILE* standardStream(StandardStream stream);

}  // namespace platform
