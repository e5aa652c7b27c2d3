// Typed lookup of a library export by name.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

template <typename Function>
Function exportedFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

#if defined(__i386__)
// The bytes a stdcall function takes off the stack: each argument rounded up to 4.
template <typename Function>
struct StackBytes;
template <typename Result, typename... Arguments>
struct StackBytes<Result(__stdcall*)(Arguments...)> {
    static constexpr std::size_t value = (std::size_t(0) + ... + ((sizeof(Arguments) + 3) / 4 * 4));
};
#endif

// A JNI entry point by the name a Java runtime of the target looks up. On win32 that is only
// the decorated stdcall name, _name@<argument bytes> (there is no plain alias), with the bytes
// taken from the caller's own signature: a native whose arguments differ is not found.
template <typename Function>
Function jniExport(HMODULE library, const std::string& name) {
#if defined(__i386__)
    std::string decorated = "_" + name + "@" + std::to_string(StackBytes<Function>::value);
    return exportedFunction<Function>(library, decorated.c_str());
#else
    return exportedFunction<Function>(library, name.c_str());
#endif
}
