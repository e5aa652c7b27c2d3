#include "operations.h"

bool arrayHoldsLength(JNIEnv* env, jarray array, jint length) {
    return array != nullptr && length >= 0 && length <= env->GetArrayLength(array);
}

CK_RV checkOutputLength(CK_RV rv, CK_ULONG produced, CK_BYTE_PTR output, CK_ULONG capacity) {
    if (rv != CKR_OK) return rv;
    if (output != nullptr && produced > capacity) return BRIDGE_ERR_BAD_ANSWER;
    if (produced > 0x7FFFFFFFUL) return BRIDGE_ERR_BAD_ANSWER;
    return CKR_OK;
}

jint deliverOutput(JNIEnv* env, CK_RV rv, CK_ULONG produced, NativeBytes* output, jsize capacity, jbyteArray array) {
    bool roomGiven = output->bytes() != nullptr;
    rv = checkOutputLength(rv, produced, output->bytes(), jintToUlong(capacity));
    if (roomGiven && !output->moveOut(env, array, rv == CKR_OK ? ulongToJint(produced) : capacity)) return -1;
    if (throwIfFailed(env, rv)) return -1;
    return ulongToJint(produced);
}
