#include "text.h"

#include <cstring>
#include <memory>

#include "allocation.h"
#include "exceptions.h"
#include "trace.h"

constexpr unsigned long noCharacter = 0xFFFFFFFFUL;
constexpr unsigned long replacementCharacter = 0xFFFD;

static bool isHighSurrogate(unsigned long code) { return code >= 0xD800 && code <= 0xDBFF; }
static bool isLowSurrogate(unsigned long code) { return code >= 0xDC00 && code <= 0xDFFF; }

// The code point of one UTF-8 sequence in its shortest form (surrogate code points, which
// modified UTF-8 writes, included) and its byte count in *used; noCharacter when the bytes
// begin none.
static unsigned long readSequence(const CK_BYTE* bytes, size_t length, size_t* used) {
    unsigned lead = bytes[0];
    size_t extra = lead < 0x80             ? 0
                   : (lead & 0xE0) == 0xC0 ? 1
                   : (lead & 0xF0) == 0xE0 ? 2
                   : (lead & 0xF8) == 0xF0 ? 3
                                           : 4;
    if (extra > 3 || extra >= length) return noCharacter;
    static const unsigned char leadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
    unsigned long code = lead & leadBits[extra];
    for (size_t k = 1; k <= extra; k++) {
        if ((bytes[k] & 0xC0) != 0x80) return noCharacter;
        code = (code << 6) | (bytes[k] & 0x3F);
    }
    static const unsigned long smallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < smallest[extra] || code > 0x10FFFF) return noCharacter;
    *used = extra + 1;
    return code;
}

// One character in either form: the code point and its byte count in *used. False when the
// bytes hold none: a byte that begins no character, or a lone surrogate (which UTF-8 cannot
// hold and a JVM writes for a lone UTF-16 unit); U+FFFD then stands for that byte or that
// surrogate.
static bool readCharacter(const CK_BYTE* bytes, size_t length, unsigned long* code, size_t* used) {
    if (length >= 2 && bytes[0] == 0xC0 && bytes[1] == 0x80) {
        *code = 0;
        *used = 2;
        return true;
    }
    *code = readSequence(bytes, length, used);
    if (*code == noCharacter) {
        *code = replacementCharacter;
        *used = 1;
        return false;
    }
    if (isHighSurrogate(*code) && length > 3) {
        size_t lowUsed = 0;
        unsigned long low = readSequence(bytes + 3, length - 3, &lowUsed);
        if (isLowSurrogate(low)) {
            *code = 0x10000 + ((*code - 0xD800) << 10) + (low - 0xDC00);
            *used = 6;
            return true;
        }
    }
    if (isHighSurrogate(*code) || isLowSurrogate(*code)) {
        *code = replacementCharacter;
        return false;
    }
    return true;
}

// UTF-16 of `length` bytes into `units` (room for `length`: no byte yields more than one
// unit). False when some bytes hold no character (see readCharacter).
static bool decodeText(const CK_BYTE* bytes, size_t length, jchar* units, size_t* count) {
    bool valid = true;
    size_t n = 0;
    for (size_t i = 0; i < length;) {
        unsigned long code;
        size_t used;
        if (!readCharacter(bytes + i, length - i, &code, &used)) valid = false;
        if (code >= 0x10000) {
            units[n++] = static_cast<jchar>(0xD800 + ((code - 0x10000) >> 10));
            units[n++] = static_cast<jchar>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units[n++] = static_cast<jchar>(code);
        }
        i += used;
    }
    *count = n;
    return valid;
}

// A Java string of the decoded bytes; null when they are invalid and `refuseInvalid` is set,
// when the JVM cannot make the string (its error pending), or when no room can be had for a
// long text ("Internal error: Out of memory"). The error line follows every null. Labels and
// names are decoded on the stack, only long texts on the heap.
static jstring decodeToJString(JNIEnv* env, const CK_BYTE* bytes, size_t length, bool refuseInvalid) {
    jchar shortUnits[128];
    std::unique_ptr<jchar, FreeDeleter> longUnits;
    jchar* units = shortUnits;
    if (length > sizeof shortUnits / sizeof shortUnits[0]) {
        longUnits.reset(static_cast<jchar*>(allocateElements(length, sizeof(jchar))));
        if (!longUnits) {
            throwMessageException(env, "Internal error: Out of memory");
            traceConversionError();
            return nullptr;
        }
        units = longUnits.get();
    }
    size_t count = 0;
    jstring text = nullptr;
    if (decodeText(bytes, length, units, &count) || !refuseInvalid)
        text = env->NewString(units, static_cast<jsize>(count));
    if (text == nullptr) traceConversionError();
    return text;
}

// The bytes before the first zero byte.
static size_t lengthBeforeZero(const CK_BYTE* bytes, size_t length) {
    const void* zero = std::memchr(bytes, 0, length);
    return zero != nullptr ? static_cast<size_t>(static_cast<const CK_BYTE*>(zero) - bytes) : length;
}

jstring paddedToJString(JNIEnv* env, const CK_UTF8CHAR* field, size_t width) {
    if (env->ExceptionCheck()) return nullptr;  // an earlier field failed
    return decodeToJString(env, field, lengthBeforeZero(field, width), true);
}

jstring utf8ToJString(JNIEnv* env, const CK_BYTE* bytes, size_t length) {
    return decodeToJString(env, bytes, lengthBeforeZero(bytes, length), false);
}

// Writes `code` as standard UTF-8 when `out` is set; returns its byte count.
static size_t writeSequence(unsigned long code, CK_BYTE* out) {
    size_t extra = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    if (out != nullptr) {
        static const CK_BYTE leadMarks[] = {0x00, 0xC0, 0xE0, 0xF0};
        out[0] = static_cast<CK_BYTE>(leadMarks[extra] | (code >> (6 * extra)));
        for (size_t k = 1; k <= extra; k++) out[k] = static_cast<CK_BYTE>(0x80 | ((code >> (6 * (extra - k))) & 0x3F));
    }
    return extra + 1;
}

size_t modifiedToStandardUtf8(const char* modified, size_t length, CK_BYTE* out) {
    const CK_BYTE* bytes = reinterpret_cast<const CK_BYTE*>(modified);
    size_t written = 0;
    for (size_t i = 0; i < length;) {
        unsigned long code;
        size_t used;
        (void)readCharacter(bytes + i, length - i, &code, &used);
        written += writeSequence(code, out != nullptr ? out + written : nullptr);
        i += used;
    }
    return written;
}
