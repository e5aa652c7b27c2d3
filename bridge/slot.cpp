// Natives of NativePKCS11Slot: slot, token and mechanism information, sessions.
#include <cstring>
#include <memory>

#include "frame.h"

// Start text, slot ID read from the peer, "(slot= %li)" line; false when the peer is unusable.
static bool startSlotNative(JNIEnv* env, jobject self, const char* startText, CK_SLOT_ID* slot) {
    trace("%s", startText);
    if (!getSlotHandle(env, self, slot)) return false;
    trace("(slot= %li)\n", *slot);
    return true;
}

BRIDGE_NATIVE(jobject) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getInfo(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.getInfo... ", &slot)) return nullptr;
    CK_SLOT_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetSlotInfo(slot, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject PKCS11SlotInfo...");
    jclass cls;
    jmethodID constructor;
    if (!findConstructor(env, JavaConstructor::SlotInfo, &cls, &constructor)) return nullptr;
    LocalRef<jstring> description(env, paddedToJString(env, info.slotDescription, sizeof info.slotDescription));
    LocalRef<jstring> manufacturer(env, paddedToJString(env, info.manufacturerID, sizeof info.manufacturerID));
    if (env->ExceptionCheck()) return nullptr;
    jobject result = env->NewObject(cls, constructor, description.get(), manufacturer.get(), ulongToJint(info.flags),
                                    versionToInt(info.hardwareVersion), versionToInt(info.firmwareVersion));
    if (result == nullptr) return nullptr;
    trace("OK\n");
    return result;
}

BRIDGE_NATIVE(jobject) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenInfo(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.getTokenInfo... ", &slot)) return nullptr;
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetTokenInfo(slot, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject PKCS11TokenInfo...");
    jclass cls;
    jmethodID constructor;
    if (!findConstructor(env, JavaConstructor::TokenInfo, &cls, &constructor)) return nullptr;
    LocalRef<jstring> label(env, paddedToJString(env, info.label, sizeof info.label));
    LocalRef<jstring> manufacturer(env, paddedToJString(env, info.manufacturerID, sizeof info.manufacturerID));
    LocalRef<jstring> model(env, paddedToJString(env, info.model, sizeof info.model));
    LocalRef<jstring> serial(env, paddedToJString(env, info.serialNumber, sizeof info.serialNumber));
    LocalRef<jstring> utcTime(env, paddedToJString(env, info.utcTime, sizeof info.utcTime));
    if (env->ExceptionCheck()) return nullptr;
    jobject result = env->NewObject(
        cls, constructor, label.get(), manufacturer.get(), model.get(), serial.get(), ulongToJint(info.flags),
        ulongToJint(info.ulMaxSessionCount), ulongToJint(info.ulSessionCount), ulongToJint(info.ulMaxRwSessionCount),
        ulongToJint(info.ulRwSessionCount), ulongToJint(info.ulMaxPinLen), ulongToJint(info.ulMinPinLen),
        ulongToJint(info.ulTotalPublicMemory), ulongToJint(info.ulFreePublicMemory),
        ulongToJint(info.ulTotalPrivateMemory), ulongToJint(info.ulFreePrivateMemory),
        versionToInt(info.hardwareVersion), versionToInt(info.firmwareVersion), utcTime.get());
    if (result == nullptr) return nullptr;
    trace("OK\n");
    return result;
}

BRIDGE_NATIVE(jstring) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenSN(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.getTokenSN... ", &slot)) return nullptr;
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetTokenInfo(slot, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    return paddedToJString(env, info.serialNumber, sizeof info.serialNumber);
}

BRIDGE_NATIVE(jintArray) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getMechanismList(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.getMechList... ", &slot)) return nullptr;
    CK_MECHANISM_TYPE* rawList = nullptr;
    CK_ULONG count = 0;
    CK_RV rv = bridgeGetMechanismList(slot, &rawList, &count);
    std::unique_ptr<CK_MECHANISM_TYPE, FreeDeleter> mechanisms(rawList);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating array of %li Mechanism...", count);
    LocalRef<jintArray> array(env, env->NewIntArray(static_cast<jsize>(count)));
    if (!array) return nullptr;
    // A 64-bit CK_ULONG is not a jint: the list is narrowed in place (a jint is never wider,
    // so each one lands where values already read were) and handed over in one call.
    static_assert(sizeof(jint) <= sizeof(CK_MECHANISM_TYPE), "narrowed in place");
    jint* types = reinterpret_cast<jint*>(mechanisms.get());
    for (CK_ULONG i = 0; i < count; i++) {
        jint type = ulongToJint(mechanisms.get()[i]);
        std::memcpy(&types[i], &type, sizeof type);
    }
    env->SetIntArrayRegion(array.get(), 0, static_cast<jsize>(count), types);
    trace("OK\n");
    return array.release();
}

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getMechanismInfo(JNIEnv* env, jobject self, jint mechanism) {
    const BridgeLockHold hold;
    trace("JNI: start PKCS11Slot.getMechanismInfo... ");
    CK_SLOT_ID slot;
    if (!getSlotHandle(env, self, &slot)) return nullptr;
    CK_MECHANISM_TYPE type = jintToUlong(mechanism);
    trace("(slot= %li) (mach=%li)\n", slot, type);
    CK_MECHANISM_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetMechanismInfo(slot, type, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject PKCS11MechanismInfo...");
    jobject result = newObject(env, JavaConstructor::MechanismInfo, ulongToJint(info.ulMinKeySize),
                               ulongToJint(info.ulMaxKeySize), ulongToJint(info.flags));
    if (result == nullptr) return nullptr;
    trace("OK\n");
    return result;
}

BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_initToken, notSupportedMessage, , jobject,
                      jstring, jstring)

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(JNIEnv* env, jobject self, jint flags, jobject, jobject) {
    const BridgeLockHold hold;
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.openSession... ", &slot)) return nullptr;
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = bridgeOpenSession(slot, jintToUlong(flags), &session);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject NativePKCS11Session...");
    jobject result = newPeer(env, JavaConstructor::Session, self, session);
    if (result == nullptr) {
        // A session no peer owns could never be closed: it is closed now.
        (void)bridgeCloseSession(session);
        return nullptr;
    }
    trace("OK\n");
    return result;
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_closeAllSessions(JNIEnv* env, jobject self) {
    const BridgeLockHold hold;
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.closeAllSessions... ", &slot)) return;
    CK_RV rv = bridgeCloseAllSessions(slot);
    throwIfFailed(env, rv);
}
