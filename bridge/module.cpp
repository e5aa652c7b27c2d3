// Natives of NativePKCS11: binding, initialising and finalising the module, its information,
// its slots, the bridge version, and the one-call RSA credential lookup.
#include <cstring>
#include <memory>

#include "frame.h"

static const char* const bridgeVersion = "1.16";

BRIDGE_NATIVE(jlong) Java_it_vantrel_pkcs11_nat_NativePKCS11_loadPKCS11Library(JNIEnv* env, jobject, jstring path) {
    const BridgeLockHold hold;
    applyTraceSetting();
    trace("JNI: start loadPKCS11Library ");
    JStringChars pathChars(env, path);
    if (pathChars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error (Null parameter)");
        return 0;
    }
    trace("(arg= %s)\n", pathChars.chars());
    CK_FUNCTION_LIST_PTR functionList = nullptr;
    CK_RV rv = bindModule(pathChars.chars(), &functionList);
    if (throwIfFailed(env, rv)) return 0;
    trace("JNI: library loaded: (FuncList ptr=" BRIDGE_PRIxADDR ")\n", BRIDGE_ADDR(functionList));
    trace("JNI: end loadPKCS11Library\n");
    return static_cast<jlong>(reinterpret_cast<intptr_t>(functionList));
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11_libInitialize(JNIEnv* env, jobject) {
    const BridgeLockHold hold;
    trace("JNI: PKCS11.libInitialize\n");
    CK_RV rv = bridgeInitialize();
    throwIfFailed(env, rv);
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11_libFinalize(JNIEnv*, jobject) {
    const BridgeLockHold hold;
    trace("JNI: PKCS11.libFinalize\n");
    // The module's answer shows in the wrapper's trace only.
    (void)bridgeFinalize();
}

BRIDGE_NATIVE(jobject) Java_it_vantrel_pkcs11_nat_NativePKCS11_getInfo(JNIEnv* env, jobject) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11.getInfo\n");
    CK_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetInfo(&info);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject PKCS11Info...");
    jclass cls;
    jmethodID constructor;
    if (!findConstructor(env, JavaConstructor::Info, &cls, &constructor)) return nullptr;
    LocalRef<jstring> manufacturer(env, paddedToJString(env, info.manufacturerID, sizeof info.manufacturerID));
    LocalRef<jstring> description(env, paddedToJString(env, info.libraryDescription, sizeof info.libraryDescription));
    if (env->ExceptionCheck()) return nullptr;
    jobject result = env->NewObject(cls, constructor, versionToInt(info.cryptokiVersion), manufacturer.get(),
                                    ulongToJint(info.flags), description.get(), versionToInt(info.libraryVersion));
    if (result == nullptr) return nullptr;
    trace("OK\n");
    return result;
}

BRIDGE_NATIVE(jobjectArray)
Java_it_vantrel_pkcs11_nat_NativePKCS11_getSlotList(JNIEnv* env, jobject self, jboolean tokenPresent) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11.getSlotList\n");
    CK_SLOT_ID* rawList = nullptr;
    CK_ULONG count = 0;
    CK_RV rv = bridgeGetSlotList(jbooleanToBBool(tokenPresent), &rawList, &count);
    std::unique_ptr<CK_SLOT_ID, FreeDeleter> slots(rawList);
    if (throwIfFailed(env, rv)) return nullptr;
    if (count == 0) return nullptr;
    trace("JNI: creating array of %li PKCS11Slot\n", count);
    jclass cls;
    jmethodID constructor;
    if (!findConstructor(env, JavaConstructor::Slot, &cls, &constructor)) return nullptr;
    LocalRef<jobjectArray> array(env, env->NewObjectArray(static_cast<jsize>(count), cls, nullptr));
    if (!array) return nullptr;
    for (CK_ULONG i = 0; i < count; i++) {
        trace("JNI: adding element %li ...", i);
        trace(" value= %li ...", slots.get()[i]);
        jint slotValue;
        if (!peerHandle(env, HandleKind::Slot, 0, slots.get()[i], &slotValue)) return nullptr;
        LocalRef<jobject> slot(env, env->NewObject(cls, constructor, self, slotValue));
        if (!slot) return nullptr;
        env->SetObjectArrayElement(array.get(), static_cast<jsize>(i), slot.get());
        trace(" OK\n");
    }
    return array.release();
}

BRIDGE_REFUSED_NATIVE(jint, Java_it_vantrel_pkcs11_nat_NativePKCS11_waitForSlotEvent, notSupportedMessage, 0, jobject,
                      jint)

BRIDGE_NATIVE(jstring) Java_it_vantrel_pkcs11_nat_NativePKCS11_getBridgeVersion(JNIEnv* env, jobject) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11.getBridgeVersion: %s\n", bridgeVersion);
    return env->NewStringUTF(bridgeVersion);
}

// Calls the extension with the alias and PIN characters, released as soon as it answered.
// False after an exception was raised.
static bool fetchRsaCredential(JNIEnv* env, jstring alias, jint selector, jstring pin, CK_SLOT_ID* slotID,
                               CK_SESSION_HANDLE* sessionHandle, CK_OBJECT_HANDLE handles[3]) {
    JStringChars aliasChars(env, alias);
    if (aliasChars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error");
        return false;
    }
    CK_ULONG aliasLen = static_cast<CK_ULONG>(std::strlen(aliasChars.chars()));
    trace(" alias len =%li \n", aliasLen);
    trace("JNI: pin is null ?... ");
    JStringChars pinChars(env, pin);
    if (pin != nullptr && pinChars.chars() == nullptr) {
        throwInsteadOfPending(env, "Internal error");
        return false;
    }
    CK_ULONG pinLen = pinChars.chars() != nullptr ? static_cast<CK_ULONG>(std::strlen(pinChars.chars())) : 0;
    trace(" pin len =%li \n", pinLen);
    CK_RV rv =
        bridgeOpenSessionAndGetRSACredential(aliasChars.chars(), aliasLen, jintToUlong(selector), pinChars.chars(),
                                             pinLen, slotID, sessionHandle, &handles[0], &handles[1], &handles[2]);
    // The alias first, then the PIN.
    aliasChars.release();
    pinChars.release();
    if (rv != CKR_OK) {
        throwErrorCodeFlagged(env, rv);
        return false;
    }
    return true;
}

// Slot peer, session peer and the array of object peers (null where a handle is 0); null
// when any of them cannot be built.
static jobjectArray newCredentialPeers(JNIEnv* env, jobject self, CK_SLOT_ID slotID, CK_SESSION_HANDLE sessionHandle,
                                       const CK_OBJECT_HANDLE handles[3]) {
    trace("JNI: creating PKCS11Slot\n");
    jclass slotClass;
    jmethodID slotConstructor;
    if (!findConstructor(env, JavaConstructor::Slot, &slotClass, &slotConstructor)) return nullptr;
    trace(" value= %li ...", slotID);
    jint slotValue;
    if (!peerHandle(env, HandleKind::Slot, 0, slotID, &slotValue)) return nullptr;
    LocalRef<jobject> slot(env, env->NewObject(slotClass, slotConstructor, self, slotValue));
    if (!slot) return nullptr;
    trace(" slot OK\n");

    trace("JNI: creating PKCS11Session...");
    LocalRef<jobject> session(env, newPeer(env, JavaConstructor::Session, slot.get(), sessionHandle));
    if (!session) return nullptr;
    trace(" session OK\n");

    trace("JNI: creating array PKCS11Object...");
    jclass objectClass;
    jmethodID objectConstructor;
    if (!findConstructor(env, JavaConstructor::Object, &objectClass, &objectConstructor)) return nullptr;
    LocalRef<jobjectArray> array(env, env->NewObjectArray(3, objectClass, nullptr));
    if (!array) return nullptr;
    for (jsize i = 0; i < 3; i++) {
        trace("JNI: adding element %li ...", static_cast<long>(i));
        if (handles[i] == CK_INVALID_HANDLE) {
            trace("NULL found");
        } else {
            trace("%li found", handles[i]);
            jint objectValue;
            if (!peerHandle(env, HandleKind::Object, sessionHandle, handles[i], &objectValue)) return nullptr;
            LocalRef<jobject> object(env, env->NewObject(objectClass, objectConstructor, session.get(), objectValue));
            if (!object) return nullptr;
            env->SetObjectArrayElement(array.get(), i, object.get());
        }
        trace(" OK\n");
    }
    return array.release();
}

BRIDGE_NATIVE(jobjectArray)
Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(JNIEnv* env, jobject self, jstring alias, jint selector,
                                                         jstring pin) {
    const BridgeLockHold hold;
    trace("JNI: start getRSAcredential... \n");
    CK_SLOT_ID slotID = 0;
    CK_SESSION_HANDLE sessionHandle = 0;
    CK_OBJECT_HANDLE handles[3] = {0, 0, 0};  // private key, public key, certificate
    if (!fetchRsaCredential(env, alias, selector, pin, &slotID, &sessionHandle, handles)) return nullptr;
    jobjectArray credential = newCredentialPeers(env, self, slotID, sessionHandle, handles);
    // A session no peer owns could never be closed: it is closed now.
    if (credential == nullptr && sessionHandle != CK_INVALID_HANDLE) (void)bridgeCloseSession(sessionHandle);
    return credential;
}
