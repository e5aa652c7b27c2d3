// Cryptoki texts (CK_UTF8CHAR: standard UTF-8) to Java strings and back. Reading also takes
// the two forms of modified UTF-8 that earlier writers stored (C0 80 for U+0000, a
// supplementary character as two three-byte surrogates), so either form gives the same string.
#pragma once

#include <jni.h>

#include <cstddef>

#include "cryptoki.h"

// Blank-padded Cryptoki text of `width` bytes to a Java string, blanks kept; a zero byte
// ends it early. Null after the error line, nothing pending, when the bytes are no UTF-8. Null
// with the JVM's error pending when it cannot make the string, or when an exception is pending
// already: a caller converts its fields in a row and checks for a pending exception once.
jstring paddedToJString(JNIEnv* env, const CK_UTF8CHAR* field, size_t width);

// An attribute value of `length` bytes as a Java string. A zero byte inside is U+0000; zero
// bytes at the end are padding and dropped. Bytes that begin no character become U+FFFD.
// Null (after the error line) when the JVM cannot make it.
jstring utf8ToJString(JNIEnv* env, const CK_BYTE* bytes, size_t length);

// The modified UTF-8 of a Java string (what GetStringUTFChars gives) as standard UTF-8:
// U+0000 as a zero byte, a supplementary character as one four-byte sequence, and a lone
// surrogate, which UTF-8 cannot hold, as U+FFFD. Returns the bytes written; with a null `out`
// only counts them.
size_t modifiedToStandardUtf8(const char* modified, size_t length, CK_BYTE* out);
