#include "dynlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace platform {

LibraryHandle loadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

LibraryHandle loadLibraryByName(const char* fileName) {
    if (fileName == nullptr) return nullptr;
    std::string local = std::string("./") + fileName;
    if (access(local.c_str(), F_OK) == 0) return dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

void releaseLibrary(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

}  // namespace platform
