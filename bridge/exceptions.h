// Cryptoki results and the bridge's refusals raised as it/vantrel/pkcs11/PKCS11Exception.
#pragma once

#include <jni.h>

#include "cryptoki.h"

#define BRIDGE_CLASS_EXCEPTION "it/vantrel/pkcs11/PKCS11Exception"

// Messages of the natives the bridge does not carry out.
constexpr const char* notSupportedMessage = "Not supported";
constexpr const char* notSupportedYetMessage = "Not supported YET";

void throwMessageException(JNIEnv* env, const char* message);
void throwErrorCode(JNIEnv* env, CK_RV rv);
void throwErrorCodeFlagged(JNIEnv* env, CK_RV rv);

// For when the JVM refused characters, elements or an object. No JNI call may be made on top
// of its pending error: this one clears it and raises the bridge's message instead...
void throwInsteadOfPending(JNIEnv* env, const char* message);
// ...and this one leaves it pending, raising the message only when the JVM refused without
// one, so that the failure never goes unexplained.
void throwUnlessPending(JNIEnv* env, const char* message);

// The usual end of a failed module call: raise its exception. True when rv is a failure.
inline bool throwIfFailed(JNIEnv* env, CK_RV rv) {
    if (rv == CKR_OK) return false;
    throwErrorCode(env, rv);
    return true;
}

// Arguments that would let the module reach outside a Java array (or dereference a missing
// one) are refused before the module is called, always with CKR_ARGUMENTS_BAD.
inline void throwArgumentsBad(JNIEnv* env) { throwErrorCode(env, CKR_ARGUMENTS_BAD); }
