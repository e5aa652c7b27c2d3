// Holds a file open without sharing (or sharing reading only, as a host that has the library
// loaded does), so that another process's rename or delete of it fails the way it does when a
// virus scanner or a second host has it open. Writes "<file>.held" once the file is open, lets
// it go when "<file>.release" appears (or after a minute), then removes the "<file>.held"
// marker so the waiting side knows it is done.
// Usage: hold_file <file> [read]
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) return 2;
    DWORD sharing = argc == 3 && std::string(argv[2]) == "read" ? FILE_SHARE_READ : 0;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    std::string marker = std::string(argv[1]) + ".held";
    HANDLE created = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (created != INVALID_HANDLE_VALUE) CloseHandle(created);
    std::string release = std::string(argv[1]) + ".release";
    for (int waited = 0; waited < 600 && GetFileAttributesA(release.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited)
        Sleep(100);
    CloseHandle(held);
    DeleteFileA(marker.c_str());
    return 0;
}
