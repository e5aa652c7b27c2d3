// Dynamic loading: one interface, one implementation per platform family.
#pragma once

namespace platform {

using LibraryHandle = void*;

// Loads a library by path (narrow characters, passed through unchanged). Null on failure; an
// empty path is refused, as on Windows (dlopen would answer with the main program).
LibraryHandle loadLibrary(const char* path);

// Loads a library given by bare file name the way Windows does for a host: on POSIX the
// file in the current directory is preferred when it exists, then the normal search order.
LibraryHandle loadLibraryByName(const char* fileName);

void* findSymbol(LibraryHandle library, const char* name);

void releaseLibrary(LibraryHandle library);

// The loader's own words for the calling thread's last failed load, or null where the error
// code says it all (Windows). dlopen sets no error code of its own, so on POSIX the text is
// what tells.
const char* loadFailureText();

}  // namespace platform
