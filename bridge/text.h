// Cryptoki texts (CK_UTF8CHAR: standard UTF-8) to Java strings and back. Reading also takes
// the two forms of modified UTF-8 that earlier writers stored (C0 80 for U+0000, a
// supplementary character as two three-byte surrogates). Writing gives U+0000 as a zero byte,
// where reading ends: a string holding U+0000 reads back cut there.
#pragma once

#include <jni.h>

#include <cstddef>

#include "cryptoki.h"

// Blank-padded Cryptoki text of `width` bytes to a Java string, blanks kept; a zero byte
// ends it early. Null after the error line when the bytes are no UTF-8 (nothing pending) or
// the JVM cannot make the string (its error pending). Null at once when an exception is
// pending already: a caller converts its fields in a row and checks for a pending exception
// once.
jstring paddedToJString(JNIEnv* env, const CK_UTF8CHAR* field, size_t width);

// An attribute value of `length` bytes as a Java string, up to its first zero byte. Bytes that
// begin no character become U+FFFD. Null after the error line when the JVM cannot make it (its
// error pending) or no room can be had for a long value ("Internal error: Out of memory").
jstring utf8ToJString(JNIEnv* env, const CK_BYTE* bytes, size_t length);

// The modified UTF-8 of a Java string (what GetStringUTFChars gives) as standard UTF-8:
// U+0000 as a zero byte, a supplementary character as one four-byte sequence, and a lone
// surrogate, which UTF-8 cannot hold, as U+FFFD. Returns the bytes written; with a null `out`
// only counts them.
size_t modifiedToStandardUtf8(const char* modified, size_t length, CK_BYTE* out);
