// Secret-key generation, key wrapping and unwrapping of NativePKCS11Session, and the refused
// derivation, random and function-status natives.
#include "attributes.h"
#include "frame.h"
#include "operations.h"

// These two take the entry count from the type array and ignore values beyond it; a value
// array shorter than that (or a missing array) would be read past its end and is refused.
static bool templateArraysFit(JNIEnv* env, jintArray types, jobjectArray values) {
    if (types != nullptr && values != nullptr && env->GetArrayLength(values) >= env->GetArrayLength(types)) return true;
    throwArgumentsBad(env);
    return false;
}

static CK_ATTRIBUTE* allocateTemplate(JNIEnv* env, jsize count) {
    auto entries = static_cast<CK_ATTRIBUTE*>(allocateElements(static_cast<size_t>(count), sizeof(CK_ATTRIBUTE)));
    if (entries == nullptr) throwMessageException(env, "Internal error: Out of memory");
    return entries;
}

// generateKey announces every step of the conversion, unlike the shared converter. The
// template counts only converted entries, so leaving it releases exactly what it owns.
static bool convertEntriesTraced(JNIEnv* env, jintArray types, jobjectArray values, OwnedTemplate* templ, jsize count) {
    IntArrayElements typeElements(env, types, JNI_ABORT);
    if (count > 0 && typeElements.get() == nullptr) return false;  // the JVM's OutOfMemoryError is pending
    trace("JNI: attrA OK\n");
    for (jsize i = 0; i < count; i++) {
        trace("JNI: inside loop\n");
        LocalRef<jobject> value(env, env->GetObjectArrayElement(values, i));
        trace("JNI: temp1 OK\n");
        bool converted = objectToAttribute(env, typeElements.get()[i], value.get(), &templ->entries[i]);
        trace("JNI: res?...");
        if (!converted) {
            trace("... KO\n");
            trace("\nERROR: cannot parse passed object %li\n", static_cast<long>(i));
            return false;
        }
        templ->count = static_cast<CK_ULONG>(i) + 1;
        trace("... OK\n");
    }
    trace("JNI: array OK\n");
    return true;
}

SESSION_NATIVE(jobject, generateKey)
(JNIEnv* env, jobject self, jint mechanismType, jobject, jintArray types, jobjectArray values) {
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
    templ.entries = allocateTemplate(env, count);
    trace("JNI: ckAttr OK\n");
    if (templ.entries == nullptr) return nullptr;
    if (!convertEntriesTraced(env, types, values, &templ, count)) return nullptr;
    trace("(session= %li)\n", session);
    CK_OBJECT_HANDLE key = 0;
    CK_RV rv = bridgeGenerateKey(session, &mechanism, templ.entries, templ.count, &key);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating 2 jobject PKCS11Object...");
    return newPeer(env, BRIDGE_CLASS_OBJECT, BRIDGE_CTOR_OBJECT, self, key);
}

SESSION_NATIVE(jint, wrapKey)
(JNIEnv* env, jobject self, jint mechanismType, jobject, jobject wrappingKey, jobject key, jbyteArray wrapped, jint) {
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
    if (throwIfFailed(env, rv)) return -1;
    return ulongToJint(length);
}

SESSION_NATIVE(jobject, unwrapKey)
(JNIEnv* env, jobject self, jint mechanismType, jobject, jobject unwrappingKey, jbyteArray wrapped, jint,
 jint wrappedLength, jintArray types, jobjectArray values) {
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
    templ.entries = allocateTemplate(env, count);
    if (templ.entries == nullptr) return nullptr;
    // On failure the converter has released what it converted; the template owns only its array.
    if (!convertEntries(env, types, values, templ.entries, count)) return nullptr;
    templ.count = static_cast<CK_ULONG>(count);
    CK_RV rv;
    CK_OBJECT_HANDLE key = 0;
    {
        ByteArrayElements wrappedElements(env, wrapped, JNI_ABORT);
        if (wrappedElements.get() == nullptr) return nullptr;
        trace("(session= %li)\n", session);
        rv = bridgeUnwrapKey(session, &mechanism, unwrappingHandle, wrappedElements.bytes(), jintToUlong(wrappedLength),
                             templ.entries, templ.count, &key);
    }
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating PKCS11Object (%li)...", key);
    jobject peer = newPeer(env, BRIDGE_CLASS_OBJECT, BRIDGE_CTOR_OBJECT, self, key);
    if (peer == nullptr) return nullptr;
    trace("OK\n");
    return peer;
}

#define NOT_SUPPORTED "Not supported"
BRIDGE_REFUSED_SESSION_NATIVE(jobject, deriveKey, NOT_SUPPORTED, nullptr,
                              (JNIEnv * env, jobject, jint, jobject, jobject, jintArray, jobjectArray))
BRIDGE_REFUSED_SESSION_NATIVE(void, seedRandom, NOT_SUPPORTED, , (JNIEnv * env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(void, generateRandom, NOT_SUPPORTED, , (JNIEnv * env, jobject, jbyteArray, jint, jint))
BRIDGE_REFUSED_SESSION_NATIVE(jboolean, getFunctionStatus, NOT_SUPPORTED, JNI_FALSE, (JNIEnv * env, jobject))
BRIDGE_REFUSED_SESSION_NATIVE(void, cancelFunction, NOT_SUPPORTED, , (JNIEnv * env, jobject))
