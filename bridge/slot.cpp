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
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.getInfo... ", &slot)) return nullptr;
    CK_SLOT_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetSlotInfo(slot, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject PKCS11SlotInfo...");
    LocalRef<jclass> cls(env, nullptr);
    jmethodID constructor = nullptr;
    if (!findConstructor(env, "it/vantrel/pkcs11/PKCS11SlotInfo", "(Ljava/lang/String;Ljava/lang/String;III)V", cls,
                         &constructor))
        return nullptr;
    LocalRef<jstring> description(env, paddedToJString(env, info.slotDescription, sizeof info.slotDescription));
    LocalRef<jstring> manufacturer(env, paddedToJString(env, info.manufacturerID, sizeof info.manufacturerID));
    jobject result =
        env->NewObject(cls.get(), constructor, description.get(), manufacturer.get(), ulongToJint(info.flags),
                       versionToInt(info.hardwareVersion), versionToInt(info.firmwareVersion));
    if (result == nullptr) return nullptr;
    trace("OK\n");
    return result;
}

BRIDGE_NATIVE(jobject) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenInfo(JNIEnv* env, jobject self) {
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.getTokenInfo... ", &slot)) return nullptr;
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetTokenInfo(slot, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject PKCS11TokenInfo...");
    LocalRef<jclass> cls(env, nullptr);
    jmethodID constructor = nullptr;
    if (!findConstructor(env, "it/vantrel/pkcs11/PKCS11TokenInfo",
                         "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;"
                         "IIIIIIIIIIIIILjava/lang/String;)V",
                         cls, &constructor))
        return nullptr;
    LocalRef<jstring> label(env, paddedToJString(env, info.label, sizeof info.label));
    LocalRef<jstring> manufacturer(env, paddedToJString(env, info.manufacturerID, sizeof info.manufacturerID));
    LocalRef<jstring> model(env, paddedToJString(env, info.model, sizeof info.model));
    LocalRef<jstring> serial(env, paddedToJString(env, info.serialNumber, sizeof info.serialNumber));
    LocalRef<jstring> utcTime(env, paddedToJString(env, info.utcTime, sizeof info.utcTime));
    jobject result = env->NewObject(
        cls.get(), constructor, label.get(), manufacturer.get(), model.get(), serial.get(), ulongToJint(info.flags),
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
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.getTokenSN... ", &slot)) return nullptr;
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    CK_RV rv = bridgeGetTokenInfo(slot, &info);
    if (throwIfFailed(env, rv)) return nullptr;
    return paddedToJString(env, info.serialNumber, sizeof info.serialNumber);
}

BRIDGE_NATIVE(jintArray) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getMechanismList(JNIEnv* env, jobject self) {
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
    // Copied one by one: a 64-bit CK_ULONG is not a jint.
    for (CK_ULONG i = 0; i < count; i++) {
        jint type = ulongToJint(mechanisms.get()[i]);
        env->SetIntArrayRegion(array.get(), static_cast<jsize>(i), 1, &type);
    }
    trace("OK\n");
    return array.release();
}

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getMechanismInfo(JNIEnv* env, jobject self, jint mechanism) {
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
    jobject result = newObject(env, "it/vantrel/pkcs11/PKCS11MechanismInfo", "(III)V", ulongToJint(info.ulMinKeySize),
                               ulongToJint(info.ulMaxKeySize), ulongToJint(info.flags));
    if (result == nullptr) return nullptr;
    trace("OK\n");
    return result;
}

BRIDGE_REFUSED_NATIVE(void, Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_initToken, notSupportedMessage, , jobject,
                      jstring, jstring)

BRIDGE_NATIVE(jobject)
Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(JNIEnv* env, jobject self, jint flags, jobject, jobject) {
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.openSession... ", &slot)) return nullptr;
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = bridgeOpenSession(slot, jintToUlong(flags), &session);
    if (throwIfFailed(env, rv)) return nullptr;
    trace("JNI: creating jobject NativePKCS11Session...");
    jobject result = newPeer(env, BRIDGE_CLASS_SESSION, BRIDGE_CTOR_SESSION, self, session);
    if (result == nullptr) {
        // A session no peer owns could never be closed: it is closed now.
        (void)bridgeCloseSession(session);
        return nullptr;
    }
    trace("OK\n");
    return result;
}

BRIDGE_NATIVE(void) Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_closeAllSessions(JNIEnv* env, jobject self) {
    CK_SLOT_ID slot;
    if (!startSlotNative(env, self, "JNI: start PKCS11Slot.closeAllSessions... ", &slot)) return;
    CK_RV rv = bridgeCloseAllSessions(slot);
    throwIfFailed(env, rv);
}
