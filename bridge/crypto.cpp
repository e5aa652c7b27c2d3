// Single-part signing, encryption and decryption of NativePKCS11Session, and the refused
// multi-part, digest, verification and recovery natives.
#include "operations.h"

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

// How the bytes reach the module: encryption and decryption pin the Java arrays; signing copies
// them, since a card may take seconds to sign, too long to hold off the JVM's collector.
enum class ArrayAccess { Copied, Pinned };

static jint runOneShot(JNIEnv* env, jobject self, jbyteArray data, jint dataLength, jbyteArray output,
                       const char* startText, OneShotCall call, OutputCapacity capacityRule, ArrayAccess access) {
    trace("%s", startText);
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return -1;
    bool outputRequired = capacityRule == OutputCapacity::DataLength;
    if (data == nullptr || dataLength < 0 || (outputRequired && output == nullptr)) {
        throwArgumentsBad(env);
        return -1;
    }
    jsize outputLength = output != nullptr ? env->GetArrayLength(output) : 0;
    if (dataLength > env->GetArrayLength(data) || (outputRequired && dataLength > outputLength)) {
        throwArgumentsBad(env);
        return -1;
    }
    jsize capacity = outputRequired ? dataLength : outputLength;
    // sign and decrypt without room for the output ask for its length: the module gets no buffer.
    jbyteArray room = !outputRequired && capacity == 0 ? nullptr : output;
    CK_ULONG length = jintToUlong(capacity);
    if (access == ArrayAccess::Pinned) {
        PinnedArrays arrays(env);
        if (!arrays.pin(data, dataLength, room)) {
            throwUnlessPending(env, "Internal error: Out of memory");
            return -1;
        }
        trace("(session= %li)\n", session);
        CK_RV rv = call(session, arrays.input(), jintToUlong(dataLength), arrays.output(), &length);
        rv = checkOutputLength(rv, length, arrays.output(), jintToUlong(capacity));
        arrays.release();
        if (throwIfFailed(env, rv)) return -1;
        return ulongToJint(length);
    }
    NativeBytes input;
    NativeBytes produced;
    if (!input.copyIn(env, data, dataLength) || (room != nullptr && !produced.copyIn(env, room, capacity))) {
        throwUnlessPending(env, "Internal error: Out of memory");
        return -1;
    }
    trace("(session= %li)\n", session);
    CK_RV rv = call(session, input.bytes(), jintToUlong(dataLength), produced.bytes(), &length);
    input.release();
    return deliverOutput(env, rv, length, &produced, capacity, output);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_signInit(JNIEnv* env, jobject self, jint mechanism, jobject,
                                                        jobject key) {
    const BridgeLockHold hold;
    initOperation(env, self, mechanism, key, "JNI: start PKCS11Session.signInit... ", bridgeSignInit);
}

BRIDGE_NATIVE(jint)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_sign(JNIEnv* env, jobject self, jbyteArray data, jint, jint length,
                                                    jbyteArray signature, jint) {
    const BridgeLockHold hold;
    return runOneShot(env, self, data, length, signature, "JNI: start PKCS11Session.sign... ", bridgeSign,
                      OutputCapacity::ArrayLength, ArrayAccess::Copied);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encryptInit(JNIEnv* env, jobject self, jint mechanism, jobject,
                                                           jobject key) {
    const BridgeLockHold hold;
    initOperation(env, self, mechanism, key, "JNI: start PKCS11Session.encryptInit... ", bridgeEncryptInit);
}

BRIDGE_NATIVE(jint)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encrypt(JNIEnv* env, jobject self, jbyteArray data, jint, jint length,
                                                       jbyteArray encrypted, jint) {
    const BridgeLockHold hold;
    return runOneShot(env, self, data, length, encrypted, "JNI: start PKCS11Session.encrypt... ", bridgeEncrypt,
                      OutputCapacity::DataLength, ArrayAccess::Pinned);
}

BRIDGE_NATIVE(void)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decryptInit(JNIEnv* env, jobject self, jint mechanism, jobject,
                                                           jobject key) {
    const BridgeLockHold hold;
    initOperation(env, self, mechanism, key, "JNI: start PKCS11Session.decryptInit... ", bridgeDecryptInit);
}

BRIDGE_NATIVE(jint)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decrypt(JNIEnv* env, jobject self, jbyteArray encrypted, jint,
                                                       jint length, jbyteArray data, jint) {
    const BridgeLockHold hold;
    return runOneShot(env, self, encrypted, length, data, "JNI: start PKCS11Session.decrypt... ", bridgeDecrypt,
                      OutputCapacity::ArrayLength, ArrayAccess::Pinned);
}

// ---- Refused -----------------------------------------------------------------------------------

BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_signUpdate, notSupportedYetMessage, ,
                      jobject, jbyteArray, jint, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_signFinal, notSupportedYetMessage, -1,
                      jobject, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encryptUpdate, notSupportedMessage, 0,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encryptFinal, notSupportedMessage, 0,
                      jobject, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decryptUpdate, notSupportedMessage, 0,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decryptFinal, notSupportedMessage, 0,
                      jobject, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_digestInit, notSupportedMessage, , jobject,
                      jint, jobject)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_digest, notSupportedMessage, 0, jobject,
                      jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_digestUpdate, notSupportedMessage, , jobject,
                      jbyteArray, jint, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_digestKey, notSupportedMessage, , jobject,
                      jobject)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_digestFinal, notSupportedMessage, 0, jobject,
                      jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_signRecoverInit, notSupportedMessage, ,
                      jobject, jint, jobject, jobject)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_signRecover, notSupportedMessage, 0, jobject,
                      jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_verifyInit, notSupportedMessage, , jobject,
                      jint, jobject, jobject)
BRIDGE_REFUSED_NATIVE(jboolean, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_verify, notSupportedMessage, JNI_FALSE,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_verifyUpdate, notSupportedMessage, , jobject,
                      jbyteArray, jint, jint)
BRIDGE_REFUSED_NATIVE(jboolean, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_verifyFinal, notSupportedMessage,
                      JNI_FALSE, jobject, jbyteArray, jint, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_verifyRecoverInit, notSupportedMessage, ,
                      jobject, jint, jobject, jobject)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_verifyRecover, notSupportedMessage, 0,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_digestEncryptUpdate, notSupportedMessage, 0,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decryptDigestUpdate, notSupportedMessage, 0,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_signEncryptUpdate, notSupportedMessage, 0,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint)
BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decryptVerifyUpdate, notSupportedMessage, 0,
                      jobject, jbyteArray, jint, jint, jbyteArray, jint)
