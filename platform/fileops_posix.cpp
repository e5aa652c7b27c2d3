#include "fileops.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

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
    std::string partial = processPrivateName(partialCopyName(to).c_str());
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

bool processRunning(unsigned long owner) {
    pid_t pid = static_cast<pid_t>(owner);
    if (pid <= 0 || static_cast<unsigned long>(pid) != owner) return false;
    return kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

int createNewFile(const char* fileName) {
    return seamed("create", fileName, nullptr, [&] {
        int fd = open(fileName, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) return failure();
        close(fd);
        return 0;
    });
}

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

// snprintf rather than std::to_string, whose digit table is a unique symbol that would keep the
// libraries holding this layer from ever being unloaded.
std::string processPrivateName(const char* fileName) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%ld", static_cast<long>(getpid()));
    return std::string(fileName) + suffix;
}

int abandonedPrivateNames(const char* fileName, std::vector<std::string>* names) {
    return seamed("list", fileName, nullptr, [&] {
        DIR* folder = opendir(".");
        if (folder == nullptr) return failure();
        while (const struct dirent* entry = readdir(folder)) {
            unsigned long owner = privateNameOwner(entry->d_name, fileName);
            if (owner != 0 && !processRunning(owner)) names->push_back(entry->d_name);
        }
        closedir(folder);
        return 0;
    });
}

int lastErrorCode() { return mapErrno(errno); }

}  // namespace platform
