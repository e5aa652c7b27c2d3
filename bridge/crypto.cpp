// Single-part signing, encryption and decryption of NativePKCS11Session, and the refused
// multi-part, digest, verification and recovery natives.
#include "frame.h"
#include "operations.h"

void throwArgumentsBad(JNIEnv* env) { throwErrorCode(env, CKR_ARGUMENTS_BAD); }

bool arrayHoldsLength(JNIEnv* env, jarray array, jint length) {
    return array != nullptr && length >= 0 && length <= env->GetArrayLength(array);
}

CK_RV checkOutputLength(CK_RV rv, CK_ULONG produced, CK_BYTE_PTR output, CK_ULONG capacity) {
    if (rv != CKR_OK) return rv;
    if (output != nullptr && produced > capacity) return CKR_GENERAL_ERROR;
    if (produced > 0x7FFFFFFFUL) return CKR_GENERAL_ERROR;
    return CKR_OK;
}

using InitCall = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
using OneShotCall = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG*);

static void initOperation(JNIEnv* env, jobject self, jint mechanismType, jobject key, const char* startText,
                          InitCall call) {
    trace("%s", startText);
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE keyHandle;
    if (!getSessionHandle(env, self, &session) || !getObjectHandle(env, key, &keyHandle)) return;
    CK_MECHANISM mechanism = plainMechanism(mechanismType);
    trace("(session= %li)\n", session);
    CK_RV rv = call(session, &mechanism, keyHandle);
    throwIfFailed(env, rv);
}

// How much room the module is told the output has.
enum class OutputCapacity {
    ArrayLength,  // sign, decrypt: the output array's length; 0 (null output) asks for the length
    DataLength,   // encrypt: the input length, whatever the output array holds
};

static jint runOneShot(JNIEnv* env, jobject self, jbyteArray data, jint dataLength, jbyteArray output,
                       const char* startText, OneShotCall call, OutputCapacity capacityRule) {
    trace("%s", startText);
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return -1;
    bool outputRequired = capacityRule == OutputCapacity::DataLength;
    if (data == nullptr || dataLength < 0 || (outputRequired && output == nullptr)) {
        throwArgumentsBad(env);
        return -1;
    }
    CK_RV rv;
    CK_ULONG length;
    CK_ULONG capacity;
    CK_BYTE_PTR passedOutput;
    {
        // Input is only read: nothing is copied back into it, whichever array the output is.
        ByteArrayElements dataElements(env, data, JNI_ABORT);
        if (dataElements.get() == nullptr) return -1;  // the JVM's OutOfMemoryError is pending
        ByteArrayElements outputElements(env, output, 0);
        if (output != nullptr && outputElements.get() == nullptr) return -1;
        // The lengths the guards read: asking the JVM again would be a second round trip.
        if (dataLength > dataElements.length() || (outputRequired && dataLength > outputElements.length())) {
            throwArgumentsBad(env);
            return -1;
        }
        capacity =
            capacityRule == OutputCapacity::DataLength ? jintToUlong(dataLength) : jintToUlong(outputElements.length());
        length = capacity;
        passedOutput = capacityRule == OutputCapacity::DataLength || capacity != 0 ? outputElements.bytes() : nullptr;
        trace("(session= %li)\n", session);
        rv = call(session, dataElements.bytes(), jintToUlong(dataLength), passedOutput, &length);
    }
    rv = checkOutputLength(rv, length, passedOutput, capacity);
    if (throwIfFailed(env, rv)) return -1;
    return ulongToJint(length);
}

SESSION_NATIVE(void, signInit)(JNIEnv* env, jobject self, jint mechanism, jobject, jobject key) {
    initOperation(env, self, mechanism, key, "JNI: start PKCS11Session.signInit... ", bridgeSignInit);
}

SESSION_NATIVE(jint, sign)(JNIEnv* env, jobject self, jbyteArray data, jint, jint length, jbyteArray signature, jint) {
    return runOneShot(env, self, data, length, signature, "JNI: start PKCS11Session.sign... ", bridgeSign,
                      OutputCapacity::ArrayLength);
}

SESSION_NATIVE(void, encryptInit)(JNIEnv* env, jobject self, jint mechanism, jobject, jobject key) {
    initOperation(env, self, mechanism, key, "JNI: start PKCS11Session.encryptInit... ", bridgeEncryptInit);
}

SESSION_NATIVE(jint, encrypt)
(JNIEnv* env, jobject self, jbyteArray data, jint, jint length, jbyteArray encrypted, jint) {
    return runOneShot(env, self, data, length, encrypted, "JNI: start PKCS11Session.encrypt... ", bridgeEncrypt,
                      OutputCapacity::DataLength);
}

SESSION_NATIVE(void, decryptInit)(JNIEnv* env, jobject self, jint mechanism, jobject, jobject key) {
    initOperation(env, self, mechanism, key, "JNI: start PKCS11Session.decryptInit... ", bridgeDecryptInit);
}

SESSION_NATIVE(jint, decrypt)
(JNIEnv* env, jobject self, jbyteArray encrypted, jint, jint length, jbyteArray data, jint) {
    return runOneShot(env, self, encrypted, length, data, "JNI: start PKCS11Session.decrypt... ", bridgeDecrypt,
                      OutputCapacity::ArrayLength);
}

// ---- Refused -----------------------------------------------------------------------------------

#define NOT_YET "Not supported YET"
#define NOT_SUPPORTED "Not supported"
BRIDGE_REFUSED_SESSION_NATIVE(void, signUpdate, NOT_YET, , (JNIEnv * env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, signFinal, NOT_YET, -1, (JNIEnv * env, jobject, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, encryptUpdate, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, encryptFinal, NOT_SUPPORTED, 0, (JNIEnv * env, jobject, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, decryptUpdate, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, decryptFinal, NOT_SUPPORTED, 0, (JNIEnv * env, jobject, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, digestInit, NOT_SUPPORTED, , (JNIEnv * env, jobject, jint, jobject))
BRIDGE_REFUSED_SESSION_NATIVE(jint, digest, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, digestUpdate, NOT_SUPPORTED, , (JNIEnv * env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, digestKey, NOT_SUPPORTED, , (JNIEnv * env, jobject, jobject))
BRIDGE_REFUSED_SESSION_NATIVE(jint, digestFinal, NOT_SUPPORTED, 0, (JNIEnv * env, jobject, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, signRecoverInit, NOT_SUPPORTED, , (JNIEnv * env, jobject, jint, jobject, jobject))
BRIDGE_REFUSED_SESSION_NATIVE(jint, signRecover, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, verifyInit, NOT_SUPPORTED, , (JNIEnv * env, jobject, jint, jobject, jobject))
BRIDGE_REFUSED_SESSION_NATIVE(jboolean, verify, NOT_SUPPORTED, JNI_FALSE,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, verifyUpdate, NOT_SUPPORTED, , (JNIEnv * env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jboolean, verifyFinal, NOT_SUPPORTED, JNI_FALSE,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, verifyRecoverInit, NOT_SUPPORTED, , (JNIEnv * env, jobject, jint, jobject, jobject))
BRIDGE_REFUSED_SESSION_NATIVE(jint, verifyRecover, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, digestEncryptUpdate, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, decryptDigestUpdate, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, signEncryptUpdate, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jint, decryptVerifyUpdate, NOT_SUPPORTED, 0,
                              (JNIEnv * env, jobject, jbyteArray, jint, jint, jbyteArray, jint))
