#include "fileops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <string>

namespace platform {
namespace {

int mapErrno(int error) {
    switch (error) {
        case ENOENT: return kErrorFileNotFound;
        case EACCES:
        case EPERM: return kErrorAccessDenied;
        case ENOMEM: return kErrorOutOfMemory;
        case EEXIST: return kErrorFileExists;
        default: return error;
    }
}

int failure() { return mapErrno(errno); }

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies the open source into a new file; false with errno set on the first failure.
bool copyContents(int source, int target) {
    char buffer[65536];
    for (;;) {
        ssize_t got = read(source, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return fsync(target) == 0;
        if (!writeAll(target, buffer, static_cast<size_t>(got))) return false;
    }
}

}  // namespace

int createNewFile(const char* fileName) {
    int fd = open(fileName, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return failure();
    close(fd);
    return 0;
}

// The copy goes to a side file renamed over the target at the end, so a copy that fails
// halfway never leaves a truncated target behind.
int copyFileReplacing(const char* from, const char* to) {
    int source = open(from, O_RDONLY | O_CLOEXEC);
    if (source < 0) return failure();
    struct stat info {};
    if (fstat(source, &info) != 0) {
        int code = failure();
        close(source);
        return code;
    }
    std::string partial = std::string(to) + ".part";
    int target = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 0777);
    if (target < 0) {
        int code = failure();
        close(source);
        return code;
    }
    bool copied = copyContents(source, target);
    int code = copied ? 0 : failure();
    if (close(target) != 0 && code == 0) code = failure();
    close(source);
    if (code == 0 && rename(partial.c_str(), to) != 0) code = failure();
    if (code != 0) unlink(partial.c_str());
    return code;
}

int deleteFile(const char* fileName) { return unlink(fileName) == 0 ? 0 : failure(); }

int renameFile(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return failure();
    // File systems without no-replace renames: check first, then rename.
    struct stat info {};
    if (lstat(to, &info) == 0) return kErrorFileExists;
    return rename(from, to) == 0 ? 0 : failure();
}

int fileSize(const char* fileName, int64_t* size) {
    struct stat info {};
    if (stat(fileName, &info) != 0) return failure();
    *size = static_cast<int64_t>(info.st_size);
    return 0;
}

int lastErrorCode() { return mapErrno(errno); }

}  // namespace platform
