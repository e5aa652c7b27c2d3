#include "fileops.h"

#include <windows.h>

#include <string>

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

// 100-ns units since 1601.
int64_t fileTimeValue(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

int copyFile(const char* from, const char* to, BOOL failIfExists) {
    std::wstring source = wide(from), target = wide(to);
    if (source.empty() || target.empty()) return ERROR_INVALID_NAME;
    return result(CopyFileW(source.c_str(), target.c_str(), failIfExists));
}

}  // namespace

int createNewFile(const char* fileName) {
    std::wstring name = wide(fileName);
    if (name.empty()) return ERROR_INVALID_NAME;
    HANDLE file =
        CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failure();
    CloseHandle(file);
    return 0;
}

int copyFileReplacing(const char* from, const char* to) { return copyFile(from, to, FALSE); }

// CopyFileW fails with ERROR_FILE_EXISTS (80) when the target is there.
int copyFileIfAbsent(const char* from, const char* to) { return copyFile(from, to, TRUE); }

int deleteFile(const char* fileName) {
    std::wstring name = wide(fileName);
    if (name.empty()) return ERROR_INVALID_NAME;
    return result(DeleteFileW(name.c_str()));
}

int renameFile(const char* from, const char* to) {
    std::wstring source = wide(from), target = wide(to);
    if (source.empty() || target.empty()) return ERROR_INVALID_NAME;
    return result(MoveFileW(source.c_str(), target.c_str()));
}

int fileInfo(const char* fileName, FileInfo* info) {
    std::wstring name = wide(fileName);
    if (name.empty()) return ERROR_INVALID_NAME;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return failure();
    info->size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    info->secondsSinceWrite = (fileTimeValue(now) - fileTimeValue(data.ftLastWriteTime)) / 10000000;
    return 0;
}

std::string processPrivateName(const char* fileName) {
    return std::string(fileName) + "." + std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
}

int lastErrorCode() { return static_cast<int>(GetLastError()); }

}  // namespace platform
