// Secret-key generation, key wrapping and unwrapping of NativePKCS11Session, and the refused
// derivation, random and function-status natives.
#include "attributes.h"
#include "operations.h"

// These two take the entry count from the type array and ignore values beyond it; a value
// array shorter than that (or a missing array) would be read past its end and is refused.
static bool templateArraysFit(JNIEnv* env, jintArray types, jobjectArray values) {
    if (types != nullptr && values != nullptr && env->GetArrayLength(values) >= env->GetArrayLength(types)) return true;
    throwArgumentsBad(env);
    return false;
}

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_generateKey(JNIEnv* env, jobject self, jint mechanismType, jobject,
                                                           jintArray types, jobjectArray values) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.genKey...\n");
    CK_SESSION_HANDLE session;
    if (!getSessionHandle(env, self, &session)) return nullptr;
    trace("JNI: session OK\n");
    CK_MECHANISM mechanism = plainMechanism(mechanismType);
    trace("JNI: mechanism OK\n");
    if (!templateArraysFit(env, types, values)) return nullptr;
    jsize count = env->GetArrayLength(types);
    trace("JNI: ckLen OK\n");
    OwnedTemplate templ;
    if (!allocateTemplate(env, count, TemplateSteps::Traced, &templ) ||
        !convertTemplate(env, types, values, TemplateSteps::Traced, &templ))
        return nullptr;
    trace("(session= %li)\n", session);
    CK_OBJECT_HANDLE key = 0;
    CK_RV rv = bridgeGenerateKey(session, &mechanism, templ.entries, templ.count, &key);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating 2 jobject PKCS11Object...");
    return newPeer(env, JavaConstructor::Object, self, key);
}

BRIDGE_NATIVE(jint)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_wrapKey(JNIEnv* env, jobject self, jint mechanismType, jobject,
                                                       jobject wrappingKey, jobject key, jbyteArray wrapped, jint) {
    const BridgeLockHold hold;
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
    jsize capacity = env->GetArrayLength(wrapped);
    NativeBytes produced;
    if (!produced.copyIn(env, wrapped, capacity)) {
        throwUnlessPending(env, "Internal error: Out of memory");
        return -1;
    }
    CK_ULONG length = jintToUlong(capacity);
    trace("(session= %li)\n", session);
    CK_RV rv = bridgeWrapKey(session, &mechanism, wrappingHandle, keyHandle, produced.bytes(), &length);
    trace("JNI: wrapOK OK\n");
    trace("JNI: release OK\n");
    return deliverOutput(env, rv, length, &produced, capacity, wrapped);
}

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Session_unwrapKey(JNIEnv* env, jobject self, jint mechanismType, jobject,
                                                         jobject unwrappingKey, jbyteArray wrapped, jint,
                                                         jint wrappedLength, jintArray types, jobjectArray values) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Session.unwrapKey... ");
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE unwrappingHandle;
    if (!getSessionHandle(env, self, &session) || !getObjectHandle(env, unwrappingKey, &unwrappingHandle))
        return nullptr;
    CK_MECHANISM mechanism = plainMechanism(mechanismType);
    if (!arrayHoldsLength(env, wrapped, wrappedLength)) {
        throwArgumentsBad(env);
        return nullptr;
    }
    if (!templateArraysFit(env, types, values)) return nullptr;
    jsize count = env->GetArrayLength(types);
    OwnedTemplate templ;
    if (!allocateTemplate(env, count, TemplateSteps::Quiet, &templ) ||
        !convertTemplate(env, types, values, TemplateSteps::Quiet, &templ))
        return nullptr;
    NativeBytes wrappedBytes;
    if (!wrappedBytes.copyIn(env, wrapped, wrappedLength)) {
        throwUnlessPending(env, "Internal error: Out of memory");
        return nullptr;
    }
    trace("(session= %li)\n", session);
    CK_OBJECT_HANDLE key = 0;
    CK_RV rv = bridgeUnwrapKey(session, &mechanism, unwrappingHandle, wrappedBytes.bytes(), jintToUlong(wrappedLength),
                               templ.entries, templ.count, &key);
    wrappedBytes.release();
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating PKCS11Object (%li)...", key);
    jobject peer = newPeer(env, JavaConstructor::Object, self, key);
    if (peer == nullptr) return nullptr;
    trace("OK\n");
    return peer;
}

BRIDGE_REFUSED_NATIVE(jobject, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_deriveKey, notSupportedMessage, nullptr,
                      jobject, jint, jobject, jobject, jintArray, jobjectArray)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_seedRandom, notSupportedMessage, , jobject,
                      jbyteArray, jint, jint)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_generateRandom, notSupportedMessage, ,
                      jobject, jbyteArray, jint, jint)
BRIDGE_REFUSED_NATIVE(jboolean, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getFunctionStatus, notSupportedMessage,
                      JNI_FALSE, jobject)
BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Session_cancelFunction, notSupportedMessage, ,
                      jobject)
