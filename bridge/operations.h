// Pieces shared by the session natives that hand Java arrays and mechanisms to the module:
// the mechanism without parameter, the checks that keep every length inside the caller's
// arrays, and the shape of a refused native.
#pragma once

#include "frame.h"

// The mechanism type exactly as Java gave it; the bridge never passes a parameter.
inline CK_MECHANISM plainMechanism(jint type) {
    CK_MECHANISM mechanism;
    mechanism.mechanism = jintToUlong(type);
    mechanism.pParameter = nullptr;
    mechanism.ulParameterLen = 0;
    return mechanism;
}

// Arguments that would let the module reach outside a Java array (or dereference a missing
// one) are refused before the module is called, always with CKR_ARGUMENTS_BAD.
void throwArgumentsBad(JNIEnv* env);

// True when `array` is present and its first `length` bytes exist.
bool arrayHoldsLength(JNIEnv* env, jarray array, jint length);

// The module's answer about an output length, checked: a successful call that claims more
// bytes than the buffer it was given, or a length Java cannot represent, is not believed.
CK_RV checkOutputLength(CK_RV rv, CK_ULONG produced, CK_BYTE_PTR output, CK_ULONG capacity);

#define SESSION_NATIVE(result, method) BRIDGE_NATIVE(result) Java_it_vantrel_pkcs11_nat_NativePKCS11Session_##method

// A native the bridge does not carry out: it reads nothing, calls nothing and says why.
#define BRIDGE_REFUSED_SESSION_NATIVE(result, method, message, value, parameters) \
    SESSION_NATIVE(result, method) parameters {                                   \
        throwMessageException(env, message);                                      \
        return value;                                                             \
    }
