// Text in the system code page (Windows: the ANSI code page; POSIX: UTF-8) to UTF-16.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Converts length bytes (no terminator needed). Bytes that do not form valid text become
// U+FFFD; false only when the conversion itself cannot be carried out.
bool systemCodePageToUtf16(const char* bytes, size_t length, std::u16string& out);

}  // namespace platform
