#include "fileops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include "fault_seam.h"

namespace platform {
namespace {

int mapErrno(int error) {
    switch (error) {
        case ENOENT: return kErrorFileNotFound;
        case EACCES:
        case EPERM: return kErrorAccessDenied;
        case ENOMEM: return kErrorOutOfMemory;
        case EEXIST: return kErrorFileExists;
        case EWOULDBLOCK: return kErrorSharingViolation;
        default: return error;
    }
}

int failure() { return mapErrno(errno); }

// Runs a file operation unless the test build's fault plan fails it first.
template <typename Operation>
int seamed(const char* operation, const char* fileName, const char* target, Operation run) {
    if (int injected = faults::before(operation, fileName, target)) {
        errno = injected;
        return failure();
    }
    int code = run();
    faults::after();
    return code;
}

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

int renameWithoutReplacing(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return failure();
    // File systems without no-replace renames: check first, then rename.
    struct stat info {};
    if (lstat(to, &info) == 0) return kErrorFileExists;
    return rename(from, to) == 0 ? 0 : failure();
}

int copyThroughSideFile(const char* from, const char* to, bool replace) {
    int source = open(from, O_RDONLY | O_CLOEXEC);
    if (source < 0) return failure();
    struct stat info {};
    if (fstat(source, &info) != 0) {
        int code = failure();
        close(source);
        return code;
    }
    // Only the holder of the update's lock copies, so the side file's name is its alone; one a
    // killed holder left is simply written over.
    std::string partial = partialCopyName(to);
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
    if (code == 0)
        code =
            replace ? (rename(partial.c_str(), to) == 0 ? 0 : failure()) : renameWithoutReplacing(partial.c_str(), to);
    if (code != 0) unlink(partial.c_str());
    return code;
}

bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// The lock file of this moment, locked: a holder that has just removed it (its release) leaves
// a file nobody else can find, so the lock is taken again on the one the name now gives.
int lockCurrentFile(const char* fileName, int* fd) {
    for (;;) {
        *fd = open(fileName, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (*fd < 0) return failure();
        if (flock(*fd, LOCK_EX | LOCK_NB) != 0) {
            int code = failure();
            close(*fd);
            return code;
        }
        struct stat held {
        }, named{};
        if (fstat(*fd, &held) == 0 && stat(fileName, &named) == 0 && sameFile(held, named)) return 0;
        close(*fd);
    }
}

}  // namespace

int deleteFile(const char* fileName) {
    return seamed("delete", fileName, nullptr, [&] { return unlink(fileName) == 0 ? 0 : failure(); });
}

int renameFile(const char* from, const char* to) {
    return seamed("rename", from, to, [&] { return renameWithoutReplacing(from, to); });
}

int copyFileReplacing(const char* from, const char* to) {
    return seamed("copy", from, to, [&] { return copyThroughSideFile(from, to, true); });
}

int copyFileIfAbsent(const char* from, const char* to) {
    return seamed("copy-if-absent", from, to, [&] { return copyThroughSideFile(from, to, false); });
}

int fileInfo(const char* fileName, FileInfo* info) {
    return seamed("info", fileName, nullptr, [&] {
        struct stat status {};
        if (stat(fileName, &status) != 0) return failure();
        info->size = static_cast<int64_t>(status.st_size);
        info->secondsSinceWrite = static_cast<int64_t>(std::time(nullptr)) - static_cast<int64_t>(status.st_mtime);
        return 0;
    });
}

int acquireFileLock(const char* fileName, int waitMilliseconds, FileLock* lock) {
    return seamed("lock", fileName, nullptr, [&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
        int fd = -1;
        int code;
        while ((code = lockCurrentFile(fileName, &fd)) == kErrorSharingViolation &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (code != 0) return code;
        // The holder's id, for an administrator who finds the file.
        char id[24];
        int length = std::snprintf(id, sizeof id, "%ld\n", static_cast<long>(getpid()));
        bool recorded = ftruncate(fd, 0) == 0 && writeAll(fd, id, static_cast<size_t>(length));
        (void)recorded;  // the lock holds without it
        *lock = fd;
        return 0;
    });
}

// The descriptor is closed whatever the fault seam does: a failed removal must not keep the lock.
void releaseFileLock(const char* fileName, FileLock lock) {
    // Removed while still held, so no process can lock the old file and think it the current one.
    seamed("unlock", fileName, nullptr, [&] { return unlink(fileName) == 0 ? 0 : failure(); });
    close(static_cast<int>(lock));
}

// The probe's mark is a file without any permission: no administrator places an update so.
int createProbe(const char* fileName, ProbeHandle* probe) {
    return seamed("create", fileName, nullptr, [&] {
        int fd = open(fileName, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0);
        if (fd < 0) return failure();
        *probe = fd;
        return 0;
    });
}

int removeProbe(const char* fileName, ProbeHandle probe) {
    int fd = static_cast<int>(probe);
    int code = seamed("remove-probe", fileName, nullptr, [&] {
        struct stat held {
        }, named{};
        if (fstat(fd, &held) != 0 || lstat(fileName, &named) != 0) return failure();
        if (!sameFile(held, named)) return kErrorFileNotFound;  // not the probe any more: left alone
        return unlink(fileName) == 0 ? 0 : failure();
    });
    close(fd);
    return code;
}

bool isLeftoverProbe(const char* fileName) {
    struct stat info {};
    return lstat(fileName, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0 && (info.st_mode & 07777) == 0;
}

int replaceFile(const char* from, const char* to) {
    return seamed("replace", from, to, [&] { return rename(from, to) == 0 ? 0 : failure(); });
}

int lastErrorCode() { return mapErrno(errno); }

}  // namespace platform
