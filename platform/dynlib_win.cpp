#include "dynlib.h"

#include <windows.h>

namespace platform {

LibraryHandle loadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    return reinterpret_cast<LibraryHandle>(LoadLibraryA(path));
}

LibraryHandle loadLibraryByName(const char* fileName) {
    // Windows' own search order already starts with the application and current directories.
    return loadLibrary(fileName);
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
