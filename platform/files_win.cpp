#include "files.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// The library's own streams, opened onto the files. The host may use the same C runtime
// (msvcrt.dll) and with it the same stdout and stderr: reopening those would take the host's
// output into the files, and close the host's stream when the file cannot be opened. Set at
// process attach and cleared at detach, which the loader serialises with every call.
FILE* redirected[2] = {nullptr, nullptr};

FILE*& redirectedOf(StandardStream stream) { return redirected[stream == StandardStream::Output ? 0 : 1]; }

// Writers of one process take turns: Wine places an append-only handle's write at the end of
// the file in two steps, as the C runtime does with its own handles.
SRWLOCK appendLock = SRWLOCK_INIT;

AppendResult appendEntryAlone(const char* fileName, const char* text, size_t size) {
    // Append access alone: Windows puts every write at the end of the file as one step, also
    // for writers in other processes.
    HANDLE file = CreateFileA(fileName, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return AppendResult::NotOpened;
    size_t newlines = 0;
    for (size_t i = 0; i < size; ++i) newlines += text[i] == '\n';
    // Without memory for the line endings the entry goes as it is, rather than not at all.
    char* lines = size + newlines <= MAXDWORD ? static_cast<char*>(std::malloc(size + newlines)) : nullptr;
    size_t length = size;
    if (lines != nullptr) {
        length = 0;
        for (size_t i = 0; i < size; ++i) {
            if (text[i] == '\n') lines[length++] = '\r';
            lines[length++] = text[i];
        }
    }
    DWORD written = 0;
    const bool whole = length <= MAXDWORD &&
                       WriteFile(file, lines ? lines : text, static_cast<DWORD>(length), &written, nullptr) &&
                       written == length;
    std::free(lines);
    return CloseHandle(file) && whole ? AppendResult::Written : AppendResult::NotClosed;
}

}  // namespace

int openCurrentDirectoryFile(const char* fileName, FileHandle* file) {
    *file = kNoFile;
    wchar_t path[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    if (length == 0) return static_cast<int>(GetLastError());
    int nameLength = MultiByteToWideChar(CP_ACP, 0, fileName, -1, nullptr, 0);
    // Directory, separator and name with its terminator must fit the MAX_PATH buffer.
    if (length >= MAX_PATH || nameLength <= 0 || length + 1 + static_cast<DWORD>(nameLength) > MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    path[length] = L'\\';
    MultiByteToWideChar(CP_ACP, 0, fileName, -1, path + length + 1, nameLength);
    HANDLE handle =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    *file = reinterpret_cast<FileHandle>(handle);
    return 0;
}

AppendResult appendEntry(const char* fileName, const char* text, size_t size) {
    AcquireSRWLockExclusive(&appendLock);
    const AppendResult result = appendEntryAlone(fileName, text, size);
    ReleaseSRWLockExclusive(&appendLock);
    return result;
}

int readFileChunk(FileHandle file, void* buffer, size_t size, size_t* bytesRead) {
    *bytesRead = 0;
    DWORD got = 0;
    DWORD wanted = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, wanted, &got, nullptr))
        return static_cast<int>(GetLastError());
    *bytesRead = got;
    return 0;
}

void closeFile(FileHandle file) {
    if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool redirectStandardStream(StandardStream stream, const char* fileName) {
    FILE*& kept = redirectedOf(stream);
    if (kept != nullptr) return true;
    kept = std::fopen(fileName, "w");
    return kept != nullptr;
}

void endStandardStreamRedirection(StandardStream stream) {
    FILE*& kept = redirectedOf(stream);
    if (kept == nullptr) return;
    std::fclose(kept);
    kept = nullptr;
}

std::FILE* standardStream(StandardStream stream) {
    FILE* kept = redirectedOf(stream);
    if (kept != nullptr) return kept;
    return stream == StandardStream::Output ? stdout : stderr;
}

}  // namespace platform
