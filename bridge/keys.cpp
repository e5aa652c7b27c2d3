// Secret-key generation, key wrapping and unwrapping of NativePKCS11Session, and the refused
// derivation, random and function-status natives.
#include "frame.h"
#include "operations.h"

SESSION_NATIVE(jint, wrapKey)(JNIEnv* env, jobject self, jint mechanismType, jobject, jobject wrappingKey,
                              jobject key, jbyteArray wrapped, jint) {
    trace("JNI: start PKCS11Session.wrapKey... ");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return -1;
    trace("JNI: session OK\n");
    CK_OBJECT_HANDLE keyHandle;
    if (!getObjectHandle(env, key, &keyHandle)) return -1;
    trace("JNI: key OK\n");
    CK_OBJECT_HANDLE wrappingHandle;
    if (!getObjectHandle(env, wrappingKey, &wrappingHandle)) return -1;
    trace("JNI: wrappingKey OK\n");
    CK_MECHANISM mechanism = plainMechanism(mechanismType);
    trace("JNI: mechanism OK\n");
    if (wrapped == nullptr) {
        throwArgumentsBad(env);
        return -1;
    }
    CK_RV rv;
    CK_ULONG capacity;
    CK_ULONG length;
    CK_BYTE_PTR output;
    {
        ByteArrayElements outputElements(env, wrapped, 0);
        if (outputElements.get() == nullptr) return -1;
        output = outputElements.bytes();
        capacity = jintToUlong(outputElements.length());
        length = capacity;
        trace("(session= %li)\n", session);
        rv = bridgeWrapKey(session, &mechanism, wrappingHandle, keyHandle, output, &length);
        trace("JNI: wrapOK OK\n");
    }
    trace("JNI: release OK\n");
    rv = checkOutputLength(rv, length, output, capacity);
    if (rv != CKR_OK) {
        throwErrorCode(env, rv);
        return -1;
    }
    return ulongToJint(length);
}

#define NOT_SUPPORTED "Not supported"
BRIDGE_REFUSED_SESSION_NATIVE(jobject, deriveKey, NOT_SUPPORTED, nullptr,
                              (JNIEnv* env, jobject, jint, jobject, jobject, jintArray, jobjectArray))
BRIDGE_REFUSED_SESSION_NATIVE(void, seedRandom, NOT_SUPPORTED, , (JNIEnv* env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, generateRandom, NOT_SUPPORTED, , (JNIEnv* env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jboolean, getFunctionStatus, NOT_SUPPORTED, JNI_FALSE, (JNIEnv* env, jobject))
BRIDGE_REFUSED_SESSION_NATIVE(void, cancelFunction, NOT_SUPPORTED, , (JNIEnv* env, jobject))
