#include "codepage.h"

#include <new>

namespace platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one UTF-8 sequence at bytes[i]; returns the code point and its length, or a
// replacement of one byte for anything malformed (overlong, surrogate, beyond U+10FFFF).
char32_t decodeOne(const unsigned char* bytes, size_t length, size_t i, size_t& used) {
    used = 1;
    unsigned char lead = bytes[i];
    if (lead < 0x80) return lead;
    size_t need;
    char32_t value;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        need = 1, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        need = 2, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        need = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return kReplacement;
    }
    if (length - i - 1 < need) return kReplacement;
    for (size_t k = 1; k <= need; ++k) {
        if (!isContinuation(bytes[i + k])) return kReplacement;
        value = (value << 6) | (bytes[i + k] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return kReplacement;
    used = need + 1;
    return value;
}

void appendUtf16(const unsigned char* data, size_t length, std::u16string& out) {
    for (size_t i = 0; i < length;) {
        size_t used = 1;
        char32_t value = decodeOne(data, length, i, used);
        if (value >= 0x10000) {
            value -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(value));
        }
        i += used;
    }
}

}  // namespace

bool systemCodePageToUtf16(const char* bytes, size_t length, std::u16string& out) {
    out.clear();
    if (length == 0) return true;
    if (bytes == nullptr) return false;
    try {
        out.reserve(length);
        appendUtf16(reinterpret_cast<const unsigned char*>(bytes), length, out);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace platform
