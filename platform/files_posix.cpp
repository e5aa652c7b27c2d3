#include "files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fileops.h"

namespace platform {

namespace {

// Descriptors of the streams as they were before redirection, -1 when not redirected.
int savedDescriptors[2] = {-1, -1};

int descriptorOf(StandardStream stream) { return stream == StandardStream::Output ? 1 : 2; }
FILE* stdioOf(StandardStream stream) { return stream == StandardStream::Output ? stdout : stderr; }
int& savedOf(StandardStream stream) { return savedDescriptors[stream == StandardStream::Output ? 0 : 1]; }

}  // namespace

int openCurrentDirectoryFile(const char* fileName, FileHandle* file) {
    *file = kNoFile;
    char* directory = getcwd(nullptr, 0);
    if (directory == nullptr) return lastErrorCode();
    std::string path = std::string(directory) + "/" + fileName;
    free(directory);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return lastErrorCode();
    *file = fd;
    return 0;
}

AppendResult appendEntry(const char* fileName, const char* text, size_t size) {
    int fd = open(fileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return AppendResult::NotOpened;
    bool written = true;
    while (size > 0) {
        ssize_t done = write(fd, text, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            written = false;
            break;
        }
        text += done;
        size -= static_cast<size_t>(done);
    }
    return close(fd) == 0 && written ? AppendResult::Written : AppendResult::NotClosed;
}

int readFileChunk(FileHandle file, void* buffer, size_t size, size_t* bytesRead) {
    *bytesRead = 0;
    for (;;) {
        ssize_t got = read(static_cast<int>(file), buffer, size);
        if (got >= 0) {
            *bytesRead = static_cast<size_t>(got);
            return 0;
        }
        if (errno != EINTR) return lastErrorCode();
    }
}

void closeFile(FileHandle file) {
    if (file != kNoFile) close(static_cast<int>(file));
}

// The process shares one stdout and stderr with its host, so the file is put under the
// descriptor rather than reopening the stream: a failed open leaves the stream intact, and
// ending the redirection gives the host its stream back instead of a closed one.
bool redirectStandardStream(StandardStream stream, const char* fileName) {
    int& saved = savedOf(stream);
    if (saved >= 0) return true;
    int target = open(fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (target < 0) return false;
    std::fflush(stdioOf(stream));
    saved = fcntl(descriptorOf(stream), F_DUPFD_CLOEXEC, 3);
    bool moved = dup2(target, descriptorOf(stream)) >= 0;
    close(target);
    if (!moved && saved >= 0) {
        close(saved);
        saved = -1;
    }
    return moved;
}

void endStandardStreamRedirection(StandardStream stream) {
    int& saved = savedOf(stream);
    if (saved < 0) return;
    std::fflush(stdioOf(stream));
    dup2(saved, descriptorOf(stream));
    close(saved);
    saved = -1;
}

// The descriptor itself carries the redirection.
std::FILE* standardStream(StandardStream stream) { return stdioOf(stream); }

}  // namespace platform
