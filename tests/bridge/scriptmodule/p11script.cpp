// A Cryptoki module whose answers a test scripts and whose calls it records (see script.h).
// Functions without a scripted behaviour of their own record their name and return
// rv.<name>. It is initialised without threading arguments, so no two threads may ever be
// inside it at once: every entry counts the threads inside and ends the process when a second
// one comes in.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "script.h"
// Functions scripted in files of their own.
#include "creation_calls.h"
#include "crypto_calls.h"
#include "object_calls.h"

using script::hex;
using script::number;
using script::record;
using script::result;
using script::text;

static std::vector<CK_ULONG> numbers(const std::string& list) {
    std::vector<CK_ULONG> out;
    std::istringstream in(list);
    std::string word;
    while (in >> word) out.push_back(static_cast<CK_ULONG>(std::strtoull(word.c_str(), nullptr, 0)));
    return out;
}

static const char* present(const void* p) { return p != nullptr ? "set" : "null"; }

// Two-call listing as the standard describes it, with faults a test can inject:
// <key>.count overrides the length answer, <key>.growBy adds entries before the second
// call, <key>.claim is the count reported after filling.
static CK_RV answerList(const std::vector<CK_ULONG>& items, const char* key, CK_ULONG* list, CK_ULONG* count) {
    std::string countKey = std::string(key) + ".count";
    std::string growKey = std::string(key) + ".growBy";
    std::string claimKey = std::string(key) + ".claim";
    CK_ULONG size = items.size();
    if (list == nullptr) {
        *count = number(countKey.c_str(), size);
        return CKR_OK;
    }
    size += number(growKey.c_str(), 0);
    if (*count < size) {
        *count = size;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < items.size(); i++) list[i] = items[i];
    *count = number(claimKey.c_str(), size);
    return CKR_OK;
}

static CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    record("C_Initialize args=%s", present(pInitArgs));
    return result("C_Initialize");
}

static CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    record("C_Finalize reserved=%s", present(pReserved));
    return result("C_Finalize");
}

static CK_RV C_GetInfo(CK_INFO* pInfo) {
    record("C_GetInfo");
    CK_RV rv = result("C_GetInfo");
    if (rv != CKR_OK) return rv;
    pInfo->cryptokiVersion = script::version("info.cryptokiVersion", "2.20");
    script::pad(pInfo->manufacturerID, sizeof pInfo->manufacturerID, text("info.manufacturerID", "Vantrel tests"));
    pInfo->flags = number("info.flags", 0);
    script::pad(pInfo->libraryDescription, sizeof pInfo->libraryDescription,
                text("info.libraryDescription", "Scriptable module"));
    pInfo->libraryVersion = script::version("info.libraryVersion", "1.0");
    return CKR_OK;
}

static CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    record("C_GetSlotList tokenPresent=%u list=%s count=%lu", tokenPresent, present(pSlotList),
           pSlotList != nullptr ? *pulCount : 0UL);
    CK_RV rv = result("C_GetSlotList");
    if (rv != CKR_OK) return rv;
    std::vector<CK_ULONG> slots;
    std::vector<CK_ULONG> noToken = numbers(text("slots.noToken"));
    for (CK_ULONG slot : numbers(text("slots", "0"))) {
        bool hasToken = true;
        for (CK_ULONG empty : noToken) hasToken = hasToken && empty != slot;
        if (!tokenPresent || hasToken) slots.push_back(slot);
    }
    return answerList(slots, "slots", pSlotList, pulCount);
}

static CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO* pInfo) {
    record("C_GetSlotInfo slot=%lu", slotID);
    CK_RV rv = result("C_GetSlotInfo");
    if (rv != CKR_OK) return rv;
    script::pad(pInfo->slotDescription, sizeof pInfo->slotDescription, text("slot.description", "Scripted slot"));
    script::pad(pInfo->manufacturerID, sizeof pInfo->manufacturerID, text("slot.manufacturerID", "Vantrel tests"));
    pInfo->flags = number("slot.flags", CKF_TOKEN_PRESENT);
    pInfo->hardwareVersion = script::version("slot.hardwareVersion", "1.0");
    pInfo->firmwareVersion = script::version("slot.firmwareVersion", "1.0");
    return CKR_OK;
}

static CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO* pInfo) {
    record("C_GetTokenInfo slot=%lu", slotID);
    CK_RV rv = result("C_GetTokenInfo");
    if (rv != CKR_OK) return rv;
    script::pad(pInfo->label, sizeof pInfo->label, text("token.label", "Scripted token"));
    script::pad(pInfo->manufacturerID, sizeof pInfo->manufacturerID, text("token.manufacturerID", "Vantrel tests"));
    script::pad(pInfo->model, sizeof pInfo->model, text("token.model", "Script"));
    script::pad(pInfo->serialNumber, sizeof pInfo->serialNumber, text("token.serialNumber", "0001"));
    pInfo->flags = number("token.flags", CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED);
    std::vector<CK_ULONG> counters = numbers(text("token.counters", "0 0 0 0 0 0 0 0 0 0"));
    counters.resize(10, 0);
    CK_ULONG* fields[] = {&pInfo->ulMaxSessionCount,   &pInfo->ulSessionCount,     &pInfo->ulMaxRwSessionCount,
                          &pInfo->ulRwSessionCount,    &pInfo->ulMaxPinLen,        &pInfo->ulMinPinLen,
                          &pInfo->ulTotalPublicMemory, &pInfo->ulFreePublicMemory, &pInfo->ulTotalPrivateMemory,
                          &pInfo->ulFreePrivateMemory};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; i++) *fields[i] = counters[i];
    pInfo->hardwareVersion = script::version("token.hardwareVersion", "1.0");
    pInfo->firmwareVersion = script::version("token.firmwareVersion", "1.0");
    script::pad(pInfo->utcTime, sizeof pInfo->utcTime, text("token.utcTime", ""));
    return CKR_OK;
}

static CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    record("C_GetMechanismList slot=%lu list=%s count=%lu", slotID, present(pMechanismList),
           pMechanismList != nullptr ? *pulCount : 0UL);
    CK_RV rv = result("C_GetMechanismList");
    if (rv != CKR_OK) return rv;
    return answerList(numbers(text("mechanisms", "0 1")), "mechanisms", pMechanismList, pulCount);
}

static CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    record("C_GetMechanismInfo slot=%lu type=%lu", slotID, type);
    CK_RV rv = result("C_GetMechanismInfo");
    if (rv != CKR_OK) return rv;
    std::vector<CK_ULONG> values = numbers(text("mechanismInfo", "512 4096 0"));
    values.resize(3, 0);
    pInfo->ulMinKeySize = values[0];
    pInfo->ulMaxKeySize = values[1];
    pInfo->flags = values[2];
    return CKR_OK;
}

static CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    record("C_InitPIN session=%lu pin=%s pinLen=%lu", hSession, hex(pPin, ulPinLen).c_str(), ulPinLen);
    return result("C_InitPIN");
}

static CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
                      CK_ULONG ulNewLen) {
    record("C_SetPIN session=%lu old=%s oldLen=%lu new=%s newLen=%lu", hSession, hex(pOldPin, ulOldLen).c_str(),
           ulOldLen, hex(pNewPin, ulNewLen).c_str(), ulNewLen);
    return result("C_SetPIN");
}

static CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                           CK_SESSION_HANDLE_PTR phSession) {
    record("C_OpenSession slot=%lu flags=%lu application=%s notify=%s", slotID, flags, present(pApplication),
           present(reinterpret_cast<void*>(Notify)));
    CK_RV rv = result("C_OpenSession");
    if (rv != CKR_OK) return rv;
    *phSession = number("session", 1);
    return CKR_OK;
}

static CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    record("C_CloseSession session=%lu", hSession);
    return result("C_CloseSession");
}

static CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    record("C_CloseAllSessions slot=%lu", slotID);
    return result("C_CloseAllSessions");
}

static CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO* pInfo) {
    record("C_GetSessionInfo session=%lu", hSession);
    CK_RV rv = result("C_GetSessionInfo");
    if (rv != CKR_OK) return rv;
    std::vector<CK_ULONG> values = numbers(text("sessionInfo", "0 0 4 0"));
    values.resize(4, 0);
    pInfo->slotID = values[0];
    pInfo->state = values[1];
    pInfo->flags = values[2];
    pInfo->ulDeviceError = values[3];
    return CKR_OK;
}

static CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    record("C_Login session=%lu userType=%lu pin=%s pinLen=%lu", hSession, userType, hex(pPin, ulPinLen).c_str(),
           ulPinLen);
    return result("C_Login");
}

static CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    record("C_Logout session=%lu", hSession);
    return result("C_Logout");
}

// Attribute values come from "attribute.<type>" (hex bytes); "attribute.<type>.length"
// overrides the length the query reports, "attribute.<type>.claim" the length reported after
// the value was written.
static CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                 CK_ULONG ulCount) {
    record("C_GetAttributeValue session=%lu object=%lu count=%lu", hSession, hObject, ulCount);
    CK_RV rv = result("C_GetAttributeValue");
    if (rv != CKR_OK) return rv;
    for (CK_ULONG i = 0; i < ulCount; i++) {
        CK_ATTRIBUTE& attribute = pTemplate[i];
        std::string key = "attribute." + std::to_string(attribute.type);
        std::string hexValue = text(key.c_str());
        std::vector<CK_BYTE> value;
        for (size_t at = 0; at + 1 < hexValue.size(); at += 2)
            value.push_back(static_cast<CK_BYTE>(std::strtoul(hexValue.substr(at, 2).c_str(), nullptr, 16)));
        CK_ULONG length = value.size();
        if (attribute.pValue == nullptr) {
            attribute.ulValueLen = number((key + ".length").c_str(), length);
            continue;
        }
        if (attribute.ulValueLen < length) {
            attribute.ulValueLen = length;
            return CKR_BUFFER_TOO_SMALL;
        }
        if (length > 0) std::memcpy(attribute.pValue, value.data(), length);
        attribute.ulValueLen = number((key + ".claim").c_str(), length);
    }
    return CKR_OK;
}

// Functions the bridge tests have not scripted yet: the call is recorded by name only.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wunused-parameter"
#endif
#define SCRIPT_PLAIN_FUNCTION(name, params) \
    static CK_RV name params {              \
        record(#name);                      \
        return result(#name);               \
    }
SCRIPT_PLAIN_FUNCTION(C_InitToken, (CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel))
SCRIPT_PLAIN_FUNCTION(C_GetOperationState,
                      (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG_PTR pulOperationStateLen))
SCRIPT_PLAIN_FUNCTION(C_SetOperationState,
                      (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG ulOperationStateLen,
                       CK_OBJECT_HANDLE hEncryptionKey, CK_OBJECT_HANDLE hAuthenticationKey))
SCRIPT_PLAIN_FUNCTION(C_CopyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                                     CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject))
SCRIPT_PLAIN_FUNCTION(C_EncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                        CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))
SCRIPT_PLAIN_FUNCTION(C_EncryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                                       CK_ULONG_PTR pulLastEncryptedPartLen))
SCRIPT_PLAIN_FUNCTION(C_DecryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                        CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))
SCRIPT_PLAIN_FUNCTION(C_DecryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen))
SCRIPT_PLAIN_FUNCTION(C_DigestInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism))
SCRIPT_PLAIN_FUNCTION(C_Digest, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
                                 CK_ULONG_PTR pulDigestLen))
SCRIPT_PLAIN_FUNCTION(C_DigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))
SCRIPT_PLAIN_FUNCTION(C_DigestKey, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey))
SCRIPT_PLAIN_FUNCTION(C_DigestFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen))
SCRIPT_PLAIN_FUNCTION(C_SignUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))
SCRIPT_PLAIN_FUNCTION(C_SignFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen))
SCRIPT_PLAIN_FUNCTION(C_SignRecoverInit,
                      (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))
SCRIPT_PLAIN_FUNCTION(C_SignRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                      CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen))
SCRIPT_PLAIN_FUNCTION(C_VerifyInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))
SCRIPT_PLAIN_FUNCTION(C_Verify, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                                 CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen))
SCRIPT_PLAIN_FUNCTION(C_VerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))
SCRIPT_PLAIN_FUNCTION(C_VerifyFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen))
SCRIPT_PLAIN_FUNCTION(C_VerifyRecoverInit,
                      (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))
SCRIPT_PLAIN_FUNCTION(C_VerifyRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen,
                                        CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen))
SCRIPT_PLAIN_FUNCTION(C_DigestEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                              CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))
SCRIPT_PLAIN_FUNCTION(C_DecryptDigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                              CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))
SCRIPT_PLAIN_FUNCTION(C_SignEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                                            CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))
SCRIPT_PLAIN_FUNCTION(C_DecryptVerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,
                                              CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))
SCRIPT_PLAIN_FUNCTION(C_DeriveKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey))
SCRIPT_PLAIN_FUNCTION(C_SeedRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen))
SCRIPT_PLAIN_FUNCTION(C_GenerateRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen))
SCRIPT_PLAIN_FUNCTION(C_GetFunctionStatus, (CK_SESSION_HANDLE hSession))
SCRIPT_PLAIN_FUNCTION(C_CancelFunction, (CK_SESSION_HANDLE hSession))
SCRIPT_PLAIN_FUNCTION(C_WaitForSlotEvent, (CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved))

// Threads inside the module now, and how deep this thread is inside.
static std::atomic<int> threadsInside{0};
static thread_local int depthInside = 0;

struct ThreadInside {
    ThreadInside() {
        if (depthInside++ == 0 && threadsInside.fetch_add(1) != 0) {
            std::fprintf(stderr, "p11script: two threads inside the module at once\n");
            std::abort();
        }
    }
    ~ThreadInside() {
        if (--depthInside == 0) threadsInside.fetch_sub(1);
    }
    ThreadInside(const ThreadInside&) = delete;
    ThreadInside& operator=(const ThreadInside&) = delete;
};

// The entry the function list holds: the function, counted.
template <typename Entry, Entry function>
struct Counted;
template <typename... Args, CK_RV (*function)(Args...)>
struct Counted<CK_RV (*)(Args...), function> {
    static CK_RV call(Args... args) {
        ThreadInside inside;
        return function(args...);
    }
};

static CK_FUNCTION_LIST functionList;

// The variant without C_GetFunctionList exports the same code under another name.
extern "C" SCRIPT_EXPORT CK_RV SCRIPT_GET_FUNCTION_LIST_NAME(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);
#if SCRIPT_NO_GET_FUNCTION_LIST
static CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    return SCRIPT_GET_FUNCTION_LIST_NAME(ppFunctionList);
}
#endif

extern "C" SCRIPT_EXPORT CK_RV SCRIPT_GET_FUNCTION_LIST_NAME(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    ThreadInside inside;
    record("C_GetFunctionList");
    functionList.version = CK_VERSION{2, 20};
#define SCRIPT_LIST_ENTRY(name, params) \
    functionList.name = script::has("null." #name) ? nullptr : Counted<decltype(&name), &name>::call;
    CRYPTOKI_FUNCTIONS(SCRIPT_LIST_ENTRY)
#undef SCRIPT_LIST_ENTRY
    CK_RV rv = script::number("getlist.rv", CKR_OK);
    *ppFunctionList = script::has("getlist.null") ? nullptr : &functionList;
    return rv;
}

extern "C" SCRIPT_EXPORT void P11Script_FailCall(CK_ULONG nth, CK_RV rv) { script::failCall(nth, rv); }
extern "C" SCRIPT_EXPORT CK_BBOOL P11Script_FaultPending() { return script::faultPending() ? CK_TRUE : CK_FALSE; }

#if SCRIPT_WITH_EXTENSION
extern "C" SCRIPT_EXPORT CK_RV C_OpenSessionAndGetRSACredential(
    CK_UTF8CHAR_PTR alias, CK_ULONG aliasLen, CK_ULONG selector, CK_UTF8CHAR_PTR pin, CK_ULONG pinLen,
    CK_VOID_PTR reserved1, CK_VOID_PTR reserved2, CK_SLOT_ID_PTR slot, CK_SESSION_HANDLE_PTR session,
    CK_OBJECT_HANDLE_PTR privateKey, CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR certificate) {
    ThreadInside inside;
    record(
        "C_OpenSessionAndGetRSACredential alias=%s aliasLen=%lu selector=%lu pin=%s pinLen=%lu reserved1=%s "
        "reserved2=%s",
        hex(alias, alias != nullptr ? std::strlen(reinterpret_cast<char*>(alias)) : 0).c_str(), aliasLen, selector,
        hex(pin, pinLen).c_str(), pinLen, present(reserved1), present(reserved2));
    CK_RV rv = result("C_OpenSessionAndGetRSACredential");
    *slot = number("rsa.slot", 0);
    *session = number("rsa.session", 1);
    *privateKey = number("rsa.private", 0);
    *publicKey = number("rsa.public", 0);
    *certificate = number("rsa.certificate", 0);
    return rv;
}
#endif
