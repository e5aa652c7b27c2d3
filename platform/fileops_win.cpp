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

// Back to the system code page; empty when a character has no form there.
std::string narrow(const wchar_t* text) {
    BOOL lossy = FALSE;
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], length, nullptr, nullptr) != length) return std::string();
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
    std::string partialName = processPrivateName(partialCopyName(to).c_str());
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

bool processRunning(unsigned long owner) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(owner));
    // No such process is an invalid parameter; any other refusal means it is there.
    if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

}  // namespace

int createNewFile(const char* fileName) {
    return seamed("create", fileName, nullptr, [&] {
        std::wstring name = wide(fileName);
        if (name.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return failure();
        CloseHandle(file);
        return 0;
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

std::string processPrivateName(const char* fileName) {
    return std::string(fileName) + "." + std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
}

int abandonedPrivateNames(const char* fileName, std::vector<std::string>* names) {
    return seamed("list", fileName, nullptr, [&] {
        std::wstring pattern = wide((std::string(fileName) + ".*").c_str());
        if (pattern.empty()) return static_cast<int>(ERROR_INVALID_NAME);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : failure();
        do {
            std::string name = narrow(found.cFileName);
            unsigned long owner = privateNameOwner(name, fileName);
            if (owner != 0 && !processRunning(owner)) names->push_back(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return 0;
    });
}

int lastErrorCode() { return static_cast<int>(GetLastError()); }

}  // namespace platform
