// Fuzz target: the module call wrappers that read module answers, and the natives built on
// them, over a Cryptoki double whose every answer (result codes, counts, lengths, bytes,
// texts, handles) comes from the input. The double writes only within the room it is given
// and claims whatever the input says; the bridge must believe no claim beyond that room.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame.h"
#include "fuzz_support.h"
#include "jni_double.h"

extern "C" {
JNIEXPORT jobjectArray JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11_getSlotList(JNIEnv*, jobject, jboolean);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11_getInfo(JNIEnv*, jobject);
JNIEXPORT jobjectArray JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(JNIEnv*, jobject, jstring, jint,
                                                                                        jstring);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getInfo(JNIEnv*, jobject);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenInfo(JNIEnv*, jobject);
JNIEXPORT jstring JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenSN(JNIEnv*, jobject);
JNIEXPORT jintArray JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getMechanismList(JNIEnv*, jobject);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(JNIEnv*, jobject, jint, jobject,
                                                                                  jobject);
JNIEXPORT jstring JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getStringAttributeValue(JNIEnv*, jobject, jint);
JNIEXPORT jbyteArray JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getByteArrayAttributeValue(JNIEnv*, jobject,
                                                                                                      jint);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getBigIntegerAttributeValue(JNIEnv*, jobject,
                                                                                                    jint);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getIntAttributeValue(JNIEnv*, jobject, jint);
JNIEXPORT jboolean JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getBoolAttributeValue(JNIEnv*, jobject, jint);
JNIEXPORT jobject JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObject(JNIEnv*, jobject);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_sign(JNIEnv*, jobject, jbyteArray, jint, jint,
                                                                           jbyteArray, jint);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encrypt(JNIEnv*, jobject, jbyteArray, jint, jint,
                                                                              jbyteArray, jint);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decrypt(JNIEnv*, jobject, jbyteArray, jint, jint,
                                                                              jbyteArray, jint);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_wrapKey(JNIEnv*, jobject, jint, jobject, jobject,
                                                                              jobject, jbyteArray, jint);
JNIEXPORT jint JNICALL Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getCardStatus(JNIEnv*, jobject);
}

namespace {

FuzzedDataProvider* input;

// Mostly success, so that the answers behind it are read.
CK_RV answerCode() {
    uint8_t pick = input->ConsumeIntegral<uint8_t>();
    if (pick < 208) return CKR_OK;
    if (pick < 224) return CKR_BUFFER_TOO_SMALL;
    return input->ConsumeIntegral<uint32_t>();
}

// A count or a length: the truth, a small number, or anything at all.
CK_ULONG answerCount(CK_ULONG truth) {
    switch (input->ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return truth;
        case 1: return input->ConsumeIntegralInRange<CK_ULONG>(0, 16);
        case 2: return truth + input->ConsumeIntegralInRange<CK_ULONG>(1, 4);
        default: return input->ConsumeIntegral<CK_ULONG>();
    }
}

// Fills `room` entries at most; returns how many it wrote.
template <typename Element>
CK_ULONG fillEntries(Element* list, CK_ULONG room) {
    CK_ULONG filled = input->ConsumeIntegralInRange<CK_ULONG>(0, room < 64 ? room : 64);
    for (CK_ULONG i = 0; i < filled; i++) list[i] = input->ConsumeIntegral<Element>();
    return filled;
}

CK_ULONG lastListRoom;

template <typename Element>
CK_RV answerList(Element* list, CK_ULONG* count) {
    CK_RV rv = answerCode();
    if (list == nullptr) {
        *count = answerCount(input->ConsumeIntegralInRange<CK_ULONG>(0, 32));
    } else {
        lastListRoom = *count;
        *count = answerCount(fillEntries(list, *count));
    }
    return rv;
}

CK_RV GetSlotList(CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) { return answerList(list, count); }
CK_RV GetMechanismList(CK_SLOT_ID, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) { return answerList(list, count); }

// Structures filled byte for byte: texts as much as numbers.
template <typename Info>
CK_RV answerInfo(Info* info) {
    std::vector<uint8_t> bytes = input->ConsumeBytes<uint8_t>(sizeof(Info));
    bytes.resize(sizeof(Info), ' ');
    std::memcpy(info, bytes.data(), sizeof(Info));
    return answerCode();
}

CK_RV GetInfo(CK_INFO* info) { return answerInfo(info); }
CK_RV GetSlotInfo(CK_SLOT_ID, CK_SLOT_INFO* info) { return answerInfo(info); }
CK_RV GetTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO* info) { return answerInfo(info); }

// Writes up to the room `*length` gives, then claims what the input says.
CK_RV answerBytes(CK_BYTE_PTR out, CK_ULONG* length) {
    CK_RV rv = answerCode();
    CK_ULONG written = 0;
    if (out != nullptr) {
        std::vector<uint8_t> bytes = input->ConsumeBytes<uint8_t>(input->ConsumeIntegralInRange<size_t>(0, *length));
        if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
        written = bytes.size();
    }
    *length = answerCount(out != nullptr ? written : input->ConsumeIntegralInRange<CK_ULONG>(0, 300));
    return rv;
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; i++)
        rv = answerBytes(static_cast<CK_BYTE_PTR>(templ[i].pValue), &templ[i].ulValueLen);
    return rv;
}

CK_RV SetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) { return answerCode(); }
CK_RV FindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) { return answerCode(); }
CK_RV FindObjectsFinal(CK_SESSION_HANDLE) { return answerCode(); }

CK_RV FindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG max, CK_ULONG_PTR found) {
    *found = answerCount(fillEntries(handles, max));
    return answerCode();
}

CK_RV OpenSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
    *session = input->ConsumeIntegral<CK_ULONG>();
    return answerCode();
}

CK_RV CloseSession(CK_SESSION_HANDLE) { return answerCode(); }

CK_RV OneShot(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    return answerBytes(out, outLen);
}

CK_RV WrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR out,
              CK_ULONG_PTR outLen) {
    return answerBytes(out, outLen);
}

CK_RV Credential(CK_UTF8CHAR_PTR, CK_ULONG, CK_ULONG, CK_UTF8CHAR_PTR, CK_ULONG, CK_VOID_PTR, CK_VOID_PTR,
                 CK_SLOT_ID_PTR slot, CK_SESSION_HANDLE_PTR session, CK_OBJECT_HANDLE_PTR privateKey,
                 CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR certificate) {
    for (CK_ULONG* out : {slot, session, privateKey, publicKey, certificate})
        *out = input->ConsumeBool() ? 0 : input->ConsumeIntegral<CK_ULONG>();
    return answerCode();
}

CK_FUNCTION_LIST functionList() {
    CK_FUNCTION_LIST list = {};
    list.C_GetInfo = GetInfo;
    list.C_GetSlotList = GetSlotList;
    list.C_GetSlotInfo = GetSlotInfo;
    list.C_GetTokenInfo = GetTokenInfo;
    list.C_GetMechanismList = GetMechanismList;
    list.C_OpenSession = OpenSession;
    list.C_CloseSession = CloseSession;
    list.C_GetAttributeValue = GetAttributeValue;
    list.C_SetAttributeValue = SetAttributeValue;
    list.C_FindObjectsInit = FindObjectsInit;
    list.C_FindObjects = FindObjects;
    list.C_FindObjectsFinal = FindObjectsFinal;
    list.C_Sign = OneShot;
    list.C_Encrypt = OneShot;
    list.C_Decrypt = OneShot;
    list.C_WrapKey = WrapKey;
    return list;
}

// The wrappers themselves: what they hand back on success lies within what they allocated.
void callWrapper() {
    switch (input->ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            CK_SLOT_ID* slots = nullptr;
            CK_ULONG count = 0;
            if (bridgeGetSlotList(input->ConsumeBool(), &slots, &count) == CKR_OK) {
                FUZZ_CHECK(slots != nullptr && count <= lastListRoom);
                for (CK_ULONG i = 0; i < count; i++) (void)*const_cast<volatile CK_SLOT_ID*>(&slots[i]);
            }
            std::free(slots);
            break;
        }
        case 1: {
            CK_MECHANISM_TYPE* mechanisms = nullptr;
            CK_ULONG count = 0;
            if (bridgeGetMechanismList(1, &mechanisms, &count) == CKR_OK) FUZZ_CHECK(count <= lastListRoom);
            std::free(mechanisms);
            break;
        }
        case 2: {
            CK_ATTRIBUTE attribute = {CKA_LABEL, nullptr, 0};
            CK_RV rv = bridgeGetAttributeValue(1, 2, &attribute);
            FUZZ_CHECK(rv == CKR_OK ? static_cast<volatile CK_BYTE*>(attribute.pValue)[attribute.ulValueLen] == 0
                                    : attribute.pValue == nullptr);
            std::free(attribute.pValue);
            break;
        }
        default: {
            CK_OBJECT_HANDLE object = 1;
            if (bridgeFindObjects(1, &object) != CKR_OK) FUZZ_CHECK(object == 0);
            break;
        }
    }
}

jbyteArray someBytes() {
    return jnidouble::newByteArray(input->ConsumeBytes<jbyte>(input->ConsumeIntegralInRange<size_t>(0, 300)));
}

void callNative(JNIEnv* env) {
    jobject module = jnidouble::newInstance(BRIDGE_CLASS_MODULE, "unused", 0);
    jobject slot = jnidouble::newInstance(BRIDGE_CLASS_SLOT, "slotID", 1, "module", module);
    jobject session = jnidouble::newInstance(BRIDGE_CLASS_SESSION, "sessionID", 7, "slot", slot);
    jobject object = jnidouble::newInstance(BRIDGE_CLASS_OBJECT, "objectID", 5, "session", session);
    jint type = input->ConsumeIntegral<jint>();
    jint offset = 0;
    switch (input->ConsumeIntegralInRange<int>(0, 17)) {
        case 0: Java_it_vantrel_pkcs11_nat_NativePKCS11_getSlotList(env, module, input->ConsumeBool()); break;
        case 1: Java_it_vantrel_pkcs11_nat_NativePKCS11_getInfo(env, module); break;
        case 2: Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getInfo(env, slot); break;
        case 3: Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenInfo(env, slot); break;
        case 4: Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getTokenSN(env, slot); break;
        case 5: Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_getMechanismList(env, slot); break;
        case 6: Java_it_vantrel_pkcs11_nat_NativePKCS11Slot_openSession(env, slot, 6, nullptr, nullptr); break;
        case 7: Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getStringAttributeValue(env, object, type); break;
        case 8: Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getByteArrayAttributeValue(env, object, type); break;
        case 9: Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getBigIntegerAttributeValue(env, object, type); break;
        case 10: Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getIntAttributeValue(env, object, type); break;
        case 11: Java_it_vantrel_pkcs11_nat_NativePKCS11Object_getBoolAttributeValue(env, object, type); break;
        case 12: Java_it_vantrel_pkcs11_nat_NativePKCS11Session_findObject(env, session); break;
        case 13: {
            jbyteArray data = someBytes();
            jint length = input->ConsumeIntegralInRange<jint>(0, 300);
            jbyteArray out = input->ConsumeBool() ? someBytes() : nullptr;
            switch (input->ConsumeIntegralInRange<int>(0, 2)) {
                case 0:
                    Java_it_vantrel_pkcs11_nat_NativePKCS11Session_sign(env, session, data, 0, length, out, 0);
                    break;
                case 1:
                    Java_it_vantrel_pkcs11_nat_NativePKCS11Session_encrypt(env, session, data, 0, length, out, 0);
                    break;
                default: Java_it_vantrel_pkcs11_nat_NativePKCS11Session_decrypt(env, session, data, 0, length, out, 0);
            }
            break;
        }
        case 14:
            Java_it_vantrel_pkcs11_nat_NativePKCS11Session_wrapKey(env, session, type, nullptr, object, object,
                                                                   someBytes(), offset);
            break;
        case 15: Java_it_vantrel_pkcs11_nat_NativePKCS11Session_getCardStatus(env, session); break;
        default: {
            jstring alias = jnidouble::newString(u"alias");
            Java_it_vantrel_pkcs11_nat_NativePKCS11_getRSAcredential(env, module, alias, type, nullptr);
        }
    }
    // What the native raised is its answer; the next call starts clean.
    env->ExceptionClear();
    jnidouble::checkAllReleased();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();  // the trace and the lines written whatever it says
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    input = &provider;
    static CK_FUNCTION_LIST list = functionList();
    bridgeState.functionList = &list;
    bridgeState.moduleInitialized = 1;
    bridgeState.rsaCredentialEntry = Credential;
    bridgeState.traceEnabled = provider.ConsumeBool() ? 1 : 0;
    jnidouble::abortOnProblem = true;
    jnidouble::onReset = releaseLookups;
    JNIEnv* env = jnidouble::reset();
    while (provider.remaining_bytes() > 0) {
        if (provider.ConsumeBool())
            callWrapper();
        else
            callNative(env);
    }
    return 0;
}
