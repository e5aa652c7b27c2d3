// Small conversions between Cryptoki values and Java values.
#pragma once

#include <jni.h>

#include "cryptoki.h"

// {major, minor} as major * 256 + minor (2.11 is 523).
inline jint versionToInt(CK_VERSION version) { return version.major * 256 + version.minor; }

inline jboolean bboolToJBoolean(CK_BBOOL value) { return value != 0 ? JNI_TRUE : JNI_FALSE; }
inline CK_BBOOL jbooleanToBBool(jboolean value) { return static_cast<CK_BBOOL>(value); }

// Java int and CK_ULONG share their low 32 bits; the upper bits of a 64-bit CK_ULONG are 0.
inline CK_ULONG jintToUlong(jint value) { return static_cast<CK_ULONG>(static_cast<unsigned int>(value)); }
inline jint ulongToJint(CK_ULONG value) { return static_cast<jint>(static_cast<unsigned int>(value & 0xFFFFFFFFUL)); }
