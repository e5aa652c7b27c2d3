#include "dynlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "fault_seam.h"

namespace platform {

namespace {

// Plain storage: the libraries holding this layer may be unloaded before their threads end.
thread_local char failureText[512];

void keepFailureText(const char* text) { std::snprintf(failureText, sizeof failureText, "%s", text); }

// The error code left behind is the load's own (errno cleared first), never an older one.
LibraryHandle open(const char* path) {
    errno = 0;
    LibraryHandle library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    const char* text = library == nullptr ? dlerror() : "";
    keepFailureText(text != nullptr ? text : "dlopen failed");
    return library;
}

LibraryHandle refuse(const char* text) {
    errno = ENOENT;
    keepFailureText(text);
    return nullptr;
}

}  // namespace

LibraryHandle loadLibrary(const char* path) {
    if (path == nullptr || *path == '\0') return refuse("no library path given");
    return open(path);
}

LibraryHandle loadLibraryByName(const char* fileName) {
    if (int injected = faults::before("load", fileName)) {
        errno = injected;
        keepFailureText("fault injected by the test plan");
        return nullptr;
    }
    if (fileName == nullptr || *fileName == '\0') return refuse("no library name given");
    std::string local = std::string("./") + fileName;
    LibraryHandle library = open(access(local.c_str(), F_OK) == 0 ? local.c_str() : fileName);
    faults::after();
    return library;
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

void releaseLibrary(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

const char* loadFailureText() { return failureText[0] != '\0' ? failureText : nullptr; }

}  // namespace platform
