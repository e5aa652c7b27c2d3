#include "operations.h"

bool arrayHoldsLength(JNIEnv* env, jarray array, jint length) {
    return array != nullptr && length >= 0 && length <= env->GetArrayLength(array);
}

CK_RV checkOutputLength(CK_RV rv, CK_ULONG produced, CK_BYTE_PTR output, CK_ULONG capacity) {
    if (rv != CKR_OK) return rv;
    if (output != nullptr && produced > capacity) return CKR_GENERAL_ERROR;
    if (produced > 0x7FFFFFFFUL) return CKR_GENERAL_ERROR;
    return CKR_OK;
}
