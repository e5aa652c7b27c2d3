// Pieces shared by the session natives: the mechanism without parameter, the user type of a
// login, and the checks that keep every length inside the caller's arrays.
#pragma once

#include "frame.h"

// The mechanism type exactly as Java gave it; the bridge never passes a parameter.
inline CK_MECHANISM plainMechanism(jint type) { return CK_MECHANISM{jintToUlong(type), nullptr, 0}; }

// The security officer or the normal user.
inline CK_USER_TYPE userTypeOf(jboolean securityOfficer) { return securityOfficer ? CKU_SO : CKU_USER; }

// True when `array` is present and its first `length` bytes exist.
bool arrayHoldsLength(JNIEnv* env, jarray array, jint length);

// The module's answer about an output length, checked: a successful call that claims more
// bytes than the buffer it was given, or a length Java cannot represent, is not believed.
CK_RV checkOutputLength(CK_RV rv, CK_ULONG produced, CK_BYTE_PTR output, CK_ULONG capacity);

// The end of a call that wrote into the native room `output` (none reserved for a length query)
// for the Java array, the room having started as the array's first `capacity` bytes: the
// produced bytes copied to the array's start, or on a failed call the whole room, so that Java
// gets what the module wrote, as a pinned array would; then the answer raised when failed.
// The produced length, or -1 after an exception.
jint deliverOutput(JNIEnv* env, CK_RV rv, CK_ULONG produced, NativeBytes* output, jsize capacity, jbyteArray array);
