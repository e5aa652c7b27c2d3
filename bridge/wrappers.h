// The module call wrappers: one per Cryptoki function the bridge uses, named bridge + the
// function's name without C_. Each refuses before libInitialize, traces, calls the module
// through the bound function list and returns its CK_RV; none touches Java.
#pragma once

#include <cstdarg>

#include "results.h"
#include "state.h"
#include "trace.h"

// The steps every wrapper shares: refuse before libInitialize (unless `needsInit` is false),
// trace the start text, take the entry from the function list. CKR_OK with *entry set, or
// the bridge code the wrapper returns.
template <typename Entry>
CK_RV enterModuleCall(bool needsInit, Entry CK_FUNCTION_LIST::*member, Entry* entry, const char* startFormat, ...)
    BRIDGE_PRINTF_FORMAT(4, 5);

template <typename Entry>
CK_RV enterModuleCall(bool needsInit, Entry CK_FUNCTION_LIST::*member, Entry* entry, const char* startFormat, ...) {
    if (needsInit && !bridgeState.moduleInitialized) return BRIDGE_ERR_NOT_INITIALIZED;
    if (bridgeState.traceEnabled) {
        va_list args;
        va_start(args, startFormat);
        traceArgs(startFormat, args);
        va_end(args);
    }
    *entry = bridgeState.functionList != nullptr ? bridgeState.functionList->*member : nullptr;
    return *entry != nullptr ? CKR_OK : BRIDGE_ERR_NO_FUNCTION;
}

// A whole wrapper whose only additions are its fixed start text and " Done\n".
template <typename Entry, typename... Args>
CK_RV callModule(Entry CK_FUNCTION_LIST::*member, const char* startText, Args... args) {
    Entry entry;
    CK_RV rv = enterModuleCall(true, member, &entry, "%s", startText);
    if (rv != CKR_OK) return rv;
    rv = entry(args...);
    trace(" Done\n");
    return rv;
}

CK_RV bridgeInitialize();
CK_RV bridgeFinalize();
CK_RV bridgeGetInfo(CK_INFO* info);
// The list is allocated for the caller (release with free; a 1-byte block when the count is 0).
CK_RV bridgeGetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID** slotList, CK_ULONG* count);
CK_RV bridgeGetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info);
CK_RV bridgeGetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info);
// As bridgeGetSlotList.
CK_RV bridgeGetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE** mechanisms, CK_ULONG* count);
CK_RV bridgeGetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info);
CK_RV bridgeOpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE* session);
CK_RV bridgeCloseAllSessions(CK_SLOT_ID slot);
CK_RV bridgeCloseSession(CK_SESSION_HANDLE session);
CK_RV bridgeGetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info);
// PIN lengths are strlen of the zero-terminated PINs.
CK_RV bridgeInitPIN(CK_SESSION_HANDLE session, const char* pin);
CK_RV bridgeSetPIN(CK_SESSION_HANDLE session, const char* oldPin, const char* newPin);
CK_RV bridgeLogin(CK_SESSION_HANDLE session, CK_USER_TYPE userType, const char* pin);
CK_RV bridgeLogout(CK_SESSION_HANDLE session);
CK_RV bridgeFindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count);
// Asks for one object; *object is 0 when none was found (or the call failed). A claim of
// more than one found is BRIDGE_ERR_BAD_ANSWER.
CK_RV bridgeFindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* object);
CK_RV bridgeFindObjectsFinal(CK_SESSION_HANDLE session);
CK_RV bridgeCreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count, CK_OBJECT_HANDLE* object);
CK_RV bridgeSignInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);
CK_RV bridgeSign(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR out, CK_ULONG* outLen);
CK_RV bridgeEncryptInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);
CK_RV bridgeEncrypt(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR out, CK_ULONG* outLen);
CK_RV bridgeDecryptInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key);
CK_RV bridgeDecrypt(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR out, CK_ULONG* outLen);
CK_RV bridgeWrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE wrappingKey,
                    CK_OBJECT_HANDLE key, CK_BYTE_PTR out, CK_ULONG* outLen);
CK_RV bridgeUnwrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE unwrappingKey,
                      CK_BYTE_PTR wrapped, CK_ULONG wrappedLen, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                      CK_OBJECT_HANDLE* key);
CK_RV bridgeGenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate,
                            CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                            CK_OBJECT_HANDLE* publicKey, CK_OBJECT_HANDLE* privateKey);
CK_RV bridgeGenerateKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                        CK_OBJECT_HANDLE* key);
CK_RV bridgeDestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
CK_RV bridgeGetObjectSize(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ULONG* size);
// One attribute whose type is set: its value is allocated for the caller (length + 1 bytes,
// zero after the value; release pValue with free).
CK_RV bridgeGetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attribute);
CK_RV bridgeSetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ,
                              CK_ULONG count);
CK_RV bridgeLoginBytes(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_BYTE_PTR pin, CK_ULONG pinLen);
CK_RV bridgeSetPINBytes(CK_SESSION_HANDLE session, CK_BYTE_PTR oldPin, CK_ULONG oldLen, CK_BYTE_PTR newPin,
                        CK_ULONG newLen);
CK_RV bridgeLoginProtectedPath(CK_SESSION_HANDLE session, CK_USER_TYPE userType);
CK_RV bridgeOpenSessionAndGetRSACredential(const char* alias, CK_ULONG aliasLen, CK_ULONG selector, const char* pin,
                                           CK_ULONG pinLen, CK_SLOT_ID* slot, CK_SESSION_HANDLE* session,
                                           CK_OBJECT_HANDLE* privateKey, CK_OBJECT_HANDLE* publicKey,
                                           CK_OBJECT_HANDLE* certificate);
