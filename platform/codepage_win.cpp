#include "codepage.h"

#include <windows.h>

#include <climits>
#include <new>

namespace platform {

bool systemCodePageToUtf16(const char* bytes, size_t length, std::u16string& out) {
    out.clear();
    if (length == 0) return true;
    if (bytes == nullptr || length > static_cast<size_t>(INT_MAX)) return false;
    int count = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (count <= 0) return false;
    try {
        out.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), reinterpret_cast<wchar_t*>(&out[0]),
                               count) == count;
}

}  // namespace platform
