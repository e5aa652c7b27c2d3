#include "fileops.h"

#include <windows.h>

#include <string>

#include "fault_seam.h"

namespace platform {
namespace {

// Names are converted from the system code page; an empty result means the conversion failed.
std::wstring wide(const char* text) {
    if (text == nullptr) return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring result(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, &result[0], length) != length) return std::wstring();
    result.resize(static_cast<size_t>(length - 1));
    return result;
}

int failure() {
    DWORD code = GetLastError();
    return code == 0 ? ERROR_INVALID_NAME : static_cast<int>(code);
}

int result(BOOL ok) { return ok ? 0 : failure(); }

// Runs a file operation unless the test build's fault plan fails it first.
template <typename Operation>
int seamed(const char* operation, const char* fileName, const char* target, Operation run) {
    if (int injected = faults::before(operation, fileName, target)) {
        SetLastError(static_cast<DWORD>(injected));
        return failure();
    }
    int code = run();
    faults::after();
    return code;
}

// 100-ns units since 1601.
int64_t fileTimeValue(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// CopyFileW writes its target in place; the side file keeps a copy cut short away from `to`.
// MoveFileExW reports an existing target as ERROR_ALREADY_EXISTS, known to the shared logic as
// the file-exists code.
int copyThroughSideFile(const char* from, const char* to, bool replace) {
    // Only the holder of the update's lock copies, so the side file's name is its alone.
    std::string partialName = partialCopyName(to);
    std::wstring source = wide(from), partial = wide(partialName.c_str()), target = wide(to);
    if (source.empty() || partial.empty() || target.empty()) return ERROR_INVALID_NAME;
    if (!CopyFileW(source.c_str(), partial.c_str(), FALSE)) {
        int code = failure();
        DeleteFileW(partial.c_str());
        return code;
    }
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    int code = result(MoveFileExW(partial.c_str(), target.c_str(), flags));
    if (code == ERROR_ALREADY_EXISTS) code = kErrorFileExists;
    if (code != 0) DeleteFileW(partial.c_str());
    return code;
}

// Opens the lock file unshared; it goes away when its handle closes, also when the process is
// killed. A holder's file in the middle of going away answers access denied for a moment.
int openLockFile(const std::wstring& name, HANDLE* file) {
    *file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return *file == INVALID_HANDLE_VALUE ? failure() : 0;
}

}  // namespace

int acquireFileLock(const char* fileName, int waitMilliseconds, FileLock* lock) {
    return seamed("lock", fileName, nullptr, [&] {
        std::wstring name = wide(fileName);
        if (name.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        ULONGLONG started = GetTickCount64();
        HANDLE file = INVALID_HANDLE_VALUE;
        int code;
        for (;;) {
            code = openLockFile(name, &file);
            ULONGLONG waited = GetTickCount64() - started;
            bool busy = code == ERROR_SHARING_VIOLATION || (code == ERROR_ACCESS_DENIED && waited < 200);
            if (!busy || waited >= static_cast<ULONGLONG>(waitMilliseconds)) break;
            Sleep(5);
        }
        if (code == ERROR_ACCESS_DENIED && GetTickCount64() - started >= static_cast<ULONGLONG>(waitMilliseconds))
            code = ERROR_SHARING_VIOLATION;
        if (code != 0) return code;
        // The holder's id, for an administrator who finds the file; the lock holds without it.
        std::string id = std::to_string(static_cast<unsigned long>(GetCurrentProcessId())) + "\r\n";
        DWORD written = 0;
        WriteFile(file, id.data(), static_cast<DWORD>(id.size()), &written, nullptr);
        *lock = reinterpret_cast<FileLock>(file);
        return 0;
    });
}

// Closing is the removal, done whatever the fault seam does (which can then only end the process).
void releaseFileLock(const char* fileName, FileLock lock) {
    seamed("unlock", fileName, nullptr, [] { return 0; });
    CloseHandle(reinterpret_cast<HANDLE>(lock));
}

// The probe goes away when its handle closes, also when its process is killed: none is ever
// left behind.
int createProbe(const char* fileName, ProbeHandle* probe) {
    return seamed("create", fileName, nullptr, [&] {
        std::wstring name = wide(fileName);
        if (name.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE) return failure();
        *probe = reinterpret_cast<ProbeHandle>(file);
        return 0;
    });
}

int removeProbe(const char* fileName, ProbeHandle probe) {
    int code = seamed("remove-probe", fileName, nullptr, [] { return 0; });
    CloseHandle(reinterpret_cast<HANDLE>(probe));
    return code;
}

bool isLeftoverProbe(const char*) { return false; }

int replaceFile(const char* from, const char* to) {
    return seamed("replace", from, to, [&] {
        std::wstring source = wide(from), target = wide(to);
        if (source.empty() || target.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        return result(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    });
}

int copyFileReplacing(const char* from, const char* to) {
    return seamed("copy", from, to, [&] { return copyThroughSideFile(from, to, true); });
}

int copyFileIfAbsent(const char* from, const char* to) {
    return seamed("copy-if-absent", from, to, [&] { return copyThroughSideFile(from, to, false); });
}

int deleteFile(const char* fileName) {
    return seamed("delete", fileName, nullptr, [&] {
        std::wstring name = wide(fileName);
        if (name.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        return result(DeleteFileW(name.c_str()));
    });
}

// MoveFileW reports an existing target as ERROR_ALREADY_EXISTS; the shared logic knows it as
// the file-exists code every other operation gives.
int renameFile(const char* from, const char* to) {
    return seamed("rename", from, to, [&] {
        std::wstring source = wide(from), target = wide(to);
        if (source.empty() || target.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        int code = result(MoveFileW(source.c_str(), target.c_str()));
        return code == ERROR_ALREADY_EXISTS ? kErrorFileExists : code;
    });
}

int fileInfo(const char* fileName, FileInfo* info) {
    return seamed("info", fileName, nullptr, [&] {
        std::wstring name = wide(fileName);
        if (name.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return failure();
        info->size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        info->secondsSinceWrite = (fileTimeValue(now) - fileTimeValue(data.ftLastWriteTime)) / 10000000;
        return 0;
    });
}

int lastErrorCode() { return static_cast<int>(GetLastError()); }

}  // namespace platform
