// Typed lookup of a library export by name.
#pragma once

#include <windows.h>

template <typename Function>
Function exportedFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
