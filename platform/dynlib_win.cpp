#include "dynlib.h"

#include <windows.h>

#include "fault_seam.h"

namespace platform {

LibraryHandle loadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    return reinterpret_cast<LibraryHandle>(LoadLibraryA(path));
}

LibraryHandle loadLibraryByName(const char* fileName) {
    if (int injected = faults::before("load", fileName)) {
        SetLastError(static_cast<DWORD>(injected));
        return nullptr;
    }
    // Windows' own search order already starts with the application and current directories.
    LibraryHandle library = loadLibrary(fileName);
    faults::after();
    return library;
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void releaseLibrary(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

const char* loadFailureText() { return nullptr; }

}  // namespace platform
