// Cryptoki texts to Java strings.
#pragma once

#include <jni.h>

#include <cstddef>

#include "cryptoki.h"

// Blank-padded Cryptoki text of `width` bytes to a Java string, blanks kept; a zero byte
// ends it early. Null (after the error line) when the JVM cannot make the string.
jstring paddedToJString(JNIEnv* env, const CK_UTF8CHAR* field, size_t width);

// UTF-8 up to the first zero byte (at most `length` bytes) as a Java string. Byte sequences
// that are not UTF-8 become U+FFFD. Null (after the error line) when the JVM cannot make it.
jstring utf8ToJString(JNIEnv* env, const CK_BYTE* bytes, size_t length);
