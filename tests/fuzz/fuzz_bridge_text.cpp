// Fuzz target: the bridge's text conversions in both directions. The input is read as a
// token field, as an attribute value and as the UTF-16 units of a Java string; each result
// is held against a strict decoder of this file's own and against the other direction.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "attributes.h"
#include "fuzz_support.h"
#include "jni_double.h"
#include "lookups.h"

namespace {

// Standard UTF-8 as RFC 3629 has it, to UTF-16; false when the bytes are not that.
bool decodeStrict(const uint8_t* bytes, size_t length, std::u16string* units) {
    for (size_t i = 0; i < length;) {
        uint8_t b0 = bytes[i];
        uint32_t code;
        size_t n;
        if (b0 < 0x80) {
            code = b0, n = 1;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            code = b0 & 0x1F, n = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            code = b0 & 0x0F, n = 3;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            code = b0 & 0x07, n = 4;
        } else {
            return false;
        }
        if (i + n > length) return false;
        for (size_t k = 1; k < n; k++) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        if ((n == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (n == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        if (code >= 0x10000) {
            units->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units->push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units->push_back(static_cast<char16_t>(code));
        }
        i += n;
    }
    return true;
}

// What a Java string becomes in UTF-8 and back: lone surrogates as U+FFFD.
std::u16string withoutLoneSurrogates(const std::u16string& units) {
    std::u16string out;
    for (size_t i = 0; i < units.size(); i++) {
        char16_t unit = units[i];
        bool high = unit >= 0xD800 && unit <= 0xDBFF;
        bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            out += unit;
            out += units[++i];
        } else {
            out += high || low ? u'\uFFFD' : unit;
        }
    }
    return out;
}

std::u16string read(jstring text) {
    FUZZ_CHECK(text != nullptr);
    return jnidouble::units(text);
}

// The string as the bridge stores it; its bytes after the check that they are UTF-8.
std::string store(JNIEnv* env, jstring text) {
    CK_ATTRIBUTE attribute;
    FUZZ_CHECK(objectToAttribute(env, 3, text, &attribute));
    const uint8_t* value = static_cast<const uint8_t*>(attribute.pValue);
    FUZZ_CHECK(value[attribute.ulValueLen] == 0);
    std::u16string check;
    FUZZ_CHECK(decodeStrict(value, attribute.ulValueLen, &check));
    std::string bytes(reinterpret_cast<const char*>(value), attribute.ulValueLen);
    std::free(attribute.pValue);
    return bytes;
}

void checkTokenField(JNIEnv* env, const uint8_t* data, size_t size) {
    size_t width = size < 64 ? size : 64;
    size_t length = std::find(data, data + width, 0) - data;
    std::u16string expected;
    bool valid = decodeStrict(data, length, &expected);
    jstring text = paddedToJString(env, data, width);
    FUZZ_CHECK(!env->ExceptionCheck());
    FUZZ_CHECK(!valid || (text != nullptr && jnidouble::units(text) == expected));
}

void checkAttributeValue(JNIEnv* env, const uint8_t* data, size_t size) {
    size_t length = std::find(data, data + size, 0) - data;
    std::u16string expected;
    bool valid = decodeStrict(data, length, &expected);
    std::u16string units = read(utf8ToJString(env, data, size));
    if (!valid) return;
    FUZZ_CHECK(units == expected);
    // And back to the very bytes.
    FUZZ_CHECK(store(env, jnidouble::newString(units)) == std::string(reinterpret_cast<const char*>(data), length));
}

void checkJavaString(JNIEnv* env, const uint8_t* data, size_t size) {
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    jstring text = jnidouble::newString(units);
    std::string stored = store(env, text);
    std::u16string expected = withoutLoneSurrogates(units);
    // U+0000 is stored as a zero byte, where a value read back ends.
    std::u16string trimmed = expected.substr(0, expected.find(u'\0'));
    FUZZ_CHECK(read(utf8ToJString(env, reinterpret_cast<const CK_BYTE*>(stored.data()), stored.size())) == trimmed);
    // The modified UTF-8 earlier bridges stored reads as the same string.
    const char* modified = env->GetStringUTFChars(text, nullptr);
    std::u16string old = read(utf8ToJString(env, reinterpret_cast<const CK_BYTE*>(modified), std::strlen(modified)));
    env->ReleaseStringUTFChars(text, modified);
    FUZZ_CHECK(old == expected);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();  // the conversion error line
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jnidouble::abortOnProblem = true;
    jnidouble::onReset = releaseLookups;
    JNIEnv* env = jnidouble::reset();
    checkTokenField(env, data, size);
    checkAttributeValue(env, data, size);
    checkJavaString(env, data, size);
    jnidouble::checkAllReleased();
    return 0;
}
