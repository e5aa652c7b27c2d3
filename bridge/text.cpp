#include "text.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "allocation.h"
#include "trace.h"

// True when the zero-terminated text is modified UTF-8, the only form NewStringUTF takes;
// anything else would be undefined behaviour inside the JVM.
static bool isModifiedUtf8(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        int following = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : -1;
        if (following < 0) return false;
        p++;
        for (int i = 0; i < following; i++, p++) {
            if ((*p & 0xC0) != 0x80) return false;
        }
    }
    return true;
}

jstring paddedToJString(JNIEnv* env, const CK_UTF8CHAR* field, size_t width) {
    char* text = static_cast<char*>(allocateElements(width + 1, 1));
    jstring result = nullptr;
    if (text != nullptr) {
        std::memcpy(text, field, width);
        text[width] = '\0';
        if (isModifiedUtf8(text)) result = env->NewStringUTF(text);
        std::free(text);
    }
    if (result == nullptr) {
        // The JVM's own failure (out of memory) must not stay pending under the caller,
        // which goes on building its result.
        if (env->ExceptionCheck()) env->ExceptionClear();
        traceConversionError();
    }
    return result;
}

jstring utf8ToJString(JNIEnv* env, const CK_BYTE* bytes, size_t length) {
    // No byte yields more than one UTF-16 unit (four-byte sequences yield two), so `length`
    // units suffice. Labels and names fit on the stack; only long texts need the heap.
    jchar shortText[128];
    std::unique_ptr<jchar[]> longText;
    jchar* chars = shortText;
    if (length > sizeof shortText / sizeof shortText[0]) {
        longText.reset(new (std::nothrow) jchar[length]);
        if (!longText) {
            traceConversionError();
            return nullptr;
        }
        chars = longText.get();
    }
    size_t count = 0;
    size_t i = 0;
    while (i < length && bytes[i] != 0) {
        unsigned lead = bytes[i];
        size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 4;
        unsigned long code = extra == 0   ? lead
                             : extra == 1 ? (lead & 0x1F)
                             : extra == 2 ? (lead & 0x0F)
                                          : (lead & 0x07);
        bool valid = extra <= 3;
        for (size_t k = 1; valid && k <= extra; k++) {
            if (i + k >= length || (bytes[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        static const unsigned long smallest[] = {0, 0x80, 0x800, 0x10000};
        if (valid && (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
        if (!valid) {
            chars[count++] = 0xFFFD;
            i++;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            chars[count++] = static_cast<jchar>(0xD800 + (code >> 10));
            chars[count++] = static_cast<jchar>(0xDC00 + (code & 0x3FF));
        } else {
            chars[count++] = static_cast<jchar>(code);
        }
        i += extra + 1;
    }
    jstring text = env->NewString(chars, static_cast<jsize>(count));
    if (text == nullptr) traceConversionError();
    return text;
}
