// Reading a file of the current directory, appending log entries and redirecting the standard
// streams to files.
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

enum class AppendResult { Written, NotOpened, NotClosed };

// Appends text to fileName (relative names from the current directory; created when missing),
// opened for this one entry and closed again, in one write that writers in other threads and
// processes can neither split nor overwrite: the C runtime's append mode seeks to the end and
// then writes, on Windows as two steps, which loses entries of concurrent writers. "\n" is
// written as the platform's line ending. NotClosed also stands for a write that failed.
AppendResult appendEntry(const char* fileName, const char* text, size_t size);

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
