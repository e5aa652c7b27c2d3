#include "wrappers.h"

#include <cstdlib>
#include <cstring>

#include "allocation.h"
#include "binding.h"
#include "handles.h"

CK_RV bridgeInitialize() {
    CK_C_Initialize entry;
    CK_RV rv = enterModuleCall(false, &CK_FUNCTION_LIST::C_Initialize, &entry, "JNI:BRIDGE: Initializing...");
    if (rv != CKR_OK) return rv;
    rv = entry(nullptr);
    trace(" Done: %li\n", rv);
    if (rv == CKR_OK) bridgeState.moduleInitialized = 1;
    return rv;
}

CK_RV bridgeFinalize() {
    CK_C_Finalize entry;
    CK_RV rv = enterModuleCall(false, &CK_FUNCTION_LIST::C_Finalize, &entry, "JNI:BRIDGE: Finalizing...");
    if (rv != CKR_OK) return rv;
    rv = entry(nullptr);
    trace(" Done: %li\n", rv);
    releaseModule();
    return rv;
}

CK_RV bridgeGetInfo(CK_INFO* info) {
    return callModule(&CK_FUNCTION_LIST::C_GetInfo, "JNI:BRIDGE: Calling C_GetInfo...", info);
}

// Two-call listing shared by slots and mechanisms: ask for the count, allocate, fetch.
// `traceCount` writes the count line after the first call. A module that reports more
// entries the second time than it had room for is refused.
template <typename Entry, typename Element, typename First, typename CountTrace>
static CK_RV fetchList(Entry entry, First first, Element** list, CK_ULONG* count, CountTrace traceCount) {
    *list = nullptr;
    *count = 0;
    CK_ULONG wanted = 0;
    CK_RV rv = entry(first, nullptr, &wanted);
    traceCount(wanted, rv);
    if (rv != CKR_OK) return rv;
    Element* buffer = static_cast<Element*>(allocateElements(wanted, sizeof(Element)));
    if (buffer == nullptr) return BRIDGE_ERR_NO_MEMORY;
    CK_ULONG filled = wanted;
    rv = entry(first, buffer, &filled);
    trace(" Done\n");
    if (rv == CKR_OK && filled > wanted) rv = BRIDGE_ERR_BAD_ANSWER;
    if (rv != CKR_OK) {
        std::free(buffer);
        return rv;
    }
    *list = buffer;
    *count = filled;
    return CKR_OK;
}

CK_RV bridgeGetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID** slotList, CK_ULONG* count) {
    *slotList = nullptr;
    *count = 0;
    CK_C_GetSlotList entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_GetSlotList, &entry, "JNI:BRIDGE: Calling C_GetSlotList...");
    if (rv != CKR_OK) return rv;
    return fetchList(entry, tokenPresent, slotList, count,
                     [](CK_ULONG wanted, CK_RV rv) { trace(" (slots=%li)... %li", wanted, rv); });
}

CK_RV bridgeGetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info) {
    return callModule(&CK_FUNCTION_LIST::C_GetSlotInfo, "JNI:BRIDGE: Calling C_GetSlotInfo...", slot, info);
}

CK_RV bridgeGetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    return callModule(&CK_FUNCTION_LIST::C_GetTokenInfo, "JNI:BRIDGE: Calling C_GetTokenInfo...", slot, info);
}

CK_RV bridgeGetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE** mechanisms, CK_ULONG* count) {
    *mechanisms = nullptr;
    *count = 0;
    CK_C_GetMechanismList entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_GetMechanismList, &entry,
                               "JNI:BRIDGE: Calling C_GetMechanismList...");
    if (rv != CKR_OK) return rv;
    return fetchList(entry, slot, mechanisms, count, [](CK_ULONG wanted, CK_RV) { trace("(mechs=%li)...\n", wanted); });
}

CK_RV bridgeGetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info) {
    return callModule(&CK_FUNCTION_LIST::C_GetMechanismInfo, "JNI:BRIDGE: Calling C_GetMechanismInfo...", slot, type,
                      info);
}

CK_RV bridgeOpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE* session) {
    *session = 0;
    CK_C_OpenSession entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_OpenSession, &entry, "JNI:BRIDGE: Calling C_OpenSession...");
    if (rv != CKR_OK) return rv;
    rv = entry(slot, flags, nullptr, nullptr, session);
    trace(" Done(session=%li)\n", *session);
    return rv;
}

// Aliases live as long as what they name (handles.h): they go once the module says it is gone.
CK_RV bridgeCloseAllSessions(CK_SLOT_ID slot) {
    CK_RV rv = callModule(&CK_FUNCTION_LIST::C_CloseAllSessions, "JNI:BRIDGE: Calling C_CloseAllSessions...", slot);
    if (rv == CKR_OK) forgetSlotSessions(slot);
    return rv;
}

CK_RV bridgeCloseSession(CK_SESSION_HANDLE session) {
    CK_RV rv = callModule(&CK_FUNCTION_LIST::C_CloseSession, "JNI:BRIDGE: Calling C_CloseSession...", session);
    if (rv == CKR_OK || rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED) forgetSession(session);
    return rv;
}

CK_RV bridgeGetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info) {
    return callModule(&CK_FUNCTION_LIST::C_GetSessionInfo, "JNI:BRIDGE: Calling C_GetSessionInfo...", session, info);
}

static CK_UTF8CHAR_PTR pinBytes(const char* pin) { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)); }

CK_RV bridgeInitPIN(CK_SESSION_HANDLE session, const char* pin) {
    return callModule(&CK_FUNCTION_LIST::C_InitPIN, "JNI:BRIDGE: Calling C_InitPIN...", session, pinBytes(pin),
                      static_cast<CK_ULONG>(std::strlen(pin)));
}

CK_RV bridgeSetPIN(CK_SESSION_HANDLE session, const char* oldPin, const char* newPin) {
    return callModule(&CK_FUNCTION_LIST::C_SetPIN, "JNI:BRIDGE: Calling C_SetPIN...", session, pinBytes(oldPin),
                      static_cast<CK_ULONG>(std::strlen(oldPin)), pinBytes(newPin),
                      static_cast<CK_ULONG>(std::strlen(newPin)));
}

CK_RV bridgeLogin(CK_SESSION_HANDLE session, CK_USER_TYPE userType, const char* pin) {
    CK_ULONG pinLen = static_cast<CK_ULONG>(std::strlen(pin));
    CK_C_Login entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_Login, &entry, "JNI:BRIDGE: Calling C_Login (l=%i)...",
                               static_cast<int>(pinLen));
    if (rv != CKR_OK) return rv;
    rv = entry(session, userType, pinBytes(pin), pinLen);
    trace(" Done\n");
    return rv;
}

CK_RV bridgeLogout(CK_SESSION_HANDLE session) {
    return callModule(&CK_FUNCTION_LIST::C_Logout, "JNI:BRIDGE: Calling C_Logout ...", session);
}

CK_RV bridgeFindObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    return callModule(&CK_FUNCTION_LIST::C_FindObjectsInit, "JNI:BRIDGE: Calling C_FindObjectsInit ...", session, templ,
                      count);
}

CK_RV bridgeFindObjects(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE* object) {
    *object = 0;
    CK_C_FindObjects entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_FindObjects, &entry, "JNI:BRIDGE: Calling C_FindObjects ...");
    if (rv != CKR_OK) return rv;
    CK_ULONG found = 0;
    rv = entry(session, object, 1, &found);
    trace(" Done(found=%li)\n", found);
    // Asked for one, a module that claims more is not believed.
    if (rv == CKR_OK && found > 1) rv = BRIDGE_ERR_BAD_ANSWER;
    if (rv != CKR_OK || found == 0) *object = 0;
    return rv;
}

CK_RV bridgeFindObjectsFinal(CK_SESSION_HANDLE session) {
    return callModule(&CK_FUNCTION_LIST::C_FindObjectsFinal, "JNI:BRIDGE: Calling C_FindObjectsFinal ...", session);
}

CK_RV bridgeCreateObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count, CK_OBJECT_HANDLE* object) {
    return callModule(&CK_FUNCTION_LIST::C_CreateObject, "JNI:BRIDGE: Calling C_CreateObject...", session, templ, count,
                      object);
}

// Single-part operations trace the produced (or required) length after the call.
template <typename Entry, typename... Args>
static CK_RV callWithOutputLength(Entry CK_FUNCTION_LIST::*member, const char* startText, CK_ULONG* outLen,
                                  Args... args) {
    Entry entry;
    CK_RV rv = enterModuleCall(true, member, &entry, "%s", startText);
    if (rv != CKR_OK) return rv;
    rv = entry(args..., outLen);
    trace(" Done(out=%li)\n", *outLen);
    return rv;
}

CK_RV bridgeSignInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return callModule(&CK_FUNCTION_LIST::C_SignInit, "JNI:BRIDGE: Calling C_SignInit ...", session, mechanism, key);
}

CK_RV bridgeSign(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR out, CK_ULONG* outLen) {
    return callWithOutputLength(&CK_FUNCTION_LIST::C_Sign, "JNI:BRIDGE: Calling C_Sign ...", outLen, session, data,
                                dataLen, out);
}

CK_RV bridgeEncryptInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return callModule(&CK_FUNCTION_LIST::C_EncryptInit, "JNI:BRIDGE: Calling C_EncryptInit ...", session, mechanism,
                      key);
}

CK_RV bridgeEncrypt(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR out, CK_ULONG* outLen) {
    return callWithOutputLength(&CK_FUNCTION_LIST::C_Encrypt, "JNI:BRIDGE: Calling C_Encrypt ...", outLen, session,
                                data, dataLen, out);
}

CK_RV bridgeDecryptInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    return callModule(&CK_FUNCTION_LIST::C_DecryptInit, "JNI:BRIDGE: Calling C_DecryptInit ...", session, mechanism,
                      key);
}

CK_RV bridgeDecrypt(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR out, CK_ULONG* outLen) {
    return callWithOutputLength(&CK_FUNCTION_LIST::C_Decrypt, "JNI:BRIDGE: Calling C_Decrypt ...", outLen, session,
                                data, dataLen, out);
}

CK_RV bridgeWrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE wrappingKey,
                    CK_OBJECT_HANDLE key, CK_BYTE_PTR out, CK_ULONG* outLen) {
    return callWithOutputLength(&CK_FUNCTION_LIST::C_WrapKey, "JNI:BRIDGE: Calling C_WrapKey ...", outLen, session,
                                mechanism, wrappingKey, key, out);
}

CK_RV bridgeUnwrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE unwrappingKey,
                      CK_BYTE_PTR wrapped, CK_ULONG wrappedLen, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                      CK_OBJECT_HANDLE* key) {
    CK_C_UnwrapKey entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_UnwrapKey, &entry, "JNI:BRIDGE: Calling C_UnwrapKey ...");
    if (rv != CKR_OK) return rv;
    return entry(session, mechanism, unwrappingKey, wrapped, wrappedLen, templ, count, key);
}

CK_RV bridgeGenerateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate,
                            CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                            CK_OBJECT_HANDLE* publicKey, CK_OBJECT_HANDLE* privateKey) {
    return callModule(&CK_FUNCTION_LIST::C_GenerateKeyPair, "JNI:BRIDGE: Calling C_GenerateKeyPair ...", session,
                      mechanism, publicTemplate, publicCount, privateTemplate, privateCount, publicKey, privateKey);
}

CK_RV bridgeGenerateKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR templ, CK_ULONG count,
                        CK_OBJECT_HANDLE* key) {
    return callModule(&CK_FUNCTION_LIST::C_GenerateKey, "JNI:BRIDGE: Calling C_GenerateKey ...", session, mechanism,
                      templ, count, key);
}

CK_RV bridgeDestroyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    CK_RV rv =
        callModule(&CK_FUNCTION_LIST::C_DestroyObject, "JNI:BRIDGE: Calling C_DestroyObject...", session, object);
    if (rv == CKR_OK || rv == CKR_OBJECT_HANDLE_INVALID) forgetObject(session, object);
    return rv;
}

CK_RV bridgeGetObjectSize(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ULONG* size) {
    return callModule(&CK_FUNCTION_LIST::C_GetObjectSize, "JNI:BRIDGE: Calling C_GetObjectSize...", session, object,
                      size);
}

CK_RV bridgeGetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE* attribute) {
    attribute->pValue = nullptr;
    attribute->ulValueLen = 0;
    CK_C_GetAttributeValue entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_GetAttributeValue, &entry,
                               "JNI:BRIDGE: Calling C_GetAttributeValue...");
    if (rv != CKR_OK) return rv;
    rv = entry(session, object, attribute, 1);
    trace("(len=%li)...", attribute->ulValueLen);
    if (rv != CKR_OK) {
        attribute->ulValueLen = 0;
        return rv;
    }
    CK_ULONG length = attribute->ulValueLen;
    CK_BYTE_PTR value = static_cast<CK_BYTE_PTR>(allocateElements(size_t(length) + 1, 1));
    if (length >= maximumAllocation || value == nullptr) {
        std::free(value);
        attribute->ulValueLen = 0;
        return BRIDGE_ERR_NO_MEMORY;
    }
    attribute->pValue = value;
    rv = entry(session, object, attribute, 1);
    trace(" Done\n");
    // A module that claims more bytes than it had room for is not believed.
    if (rv == CKR_OK && attribute->ulValueLen > length) rv = BRIDGE_ERR_BAD_ANSWER;
    if (rv != CKR_OK) {
        std::free(value);
        attribute->pValue = nullptr;
        attribute->ulValueLen = 0;
        return rv;
    }
    value[attribute->ulValueLen] = 0;
    return CKR_OK;
}

CK_RV bridgeSetAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR templ,
                              CK_ULONG count) {
    return callModule(&CK_FUNCTION_LIST::C_SetAttributeValue, "JNI:BRIDGE: Calling C_SetAttributeValue...", session,
                      object, templ, count);
}

CK_RV bridgeLoginBytes(CK_SESSION_HANDLE session, CK_USER_TYPE userType, CK_BYTE_PTR pin, CK_ULONG pinLen) {
    CK_C_Login entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_Login, &entry, "JNI:BRIDGE: Calling C_Login (len=%i)...",
                               static_cast<int>(pinLen));
    if (rv != CKR_OK) return rv;
    rv = entry(session, userType, pin, pinLen);
    trace(" Done\n");
    return rv;
}

CK_RV bridgeSetPINBytes(CK_SESSION_HANDLE session, CK_BYTE_PTR oldPin, CK_ULONG oldLen, CK_BYTE_PTR newPin,
                        CK_ULONG newLen) {
    CK_C_SetPIN entry;
    CK_RV rv = enterModuleCall(true, &CK_FUNCTION_LIST::C_SetPIN, &entry,
                               "JNI:BRIDGE: Calling C_SetPIN...JNI:BRIDGE: Calling C_SetPIN (len=%i)..."
                               "JNI:BRIDGE: Calling C_SetPIN (len=%i)...",
                               static_cast<int>(oldLen), static_cast<int>(newLen));
    if (rv != CKR_OK) return rv;
    rv = entry(session, oldPin, oldLen, newPin, newLen);
    trace(" Done\n");
    return rv;
}

CK_RV bridgeLoginProtectedPath(CK_SESSION_HANDLE session, CK_USER_TYPE userType) {
    return callModule(&CK_FUNCTION_LIST::C_Login, "JNI:BRIDGE: Calling C_Login...", session, userType,
                      static_cast<CK_UTF8CHAR_PTR>(nullptr), CK_ULONG(0));
}

// The RSA credential shortcut: the module's optional export, not part of the function list.
CK_RV bridgeOpenSessionAndGetRSACredential(const char* alias, CK_ULONG aliasLen, CK_ULONG selector, const char* pin,
                                           CK_ULONG pinLen, CK_SLOT_ID* slot, CK_SESSION_HANDLE* session,
                                           CK_OBJECT_HANDLE* privateKey, CK_OBJECT_HANDLE* publicKey,
                                           CK_OBJECT_HANDLE* certificate) {
    if (!bridgeState.moduleInitialized) return BRIDGE_ERR_NOT_INITIALIZED;
    if (bridgeState.rsaCredentialEntry == nullptr) {
        trace("JNI:BRIDGE: loaded library?");
        if (bridgeState.moduleHandle == nullptr) return BRIDGE_ERR_NO_FUNCTION;
        trace("JNI:BRIDGE: getting address...");
        // Looked up again on every call until found, and forgotten with its module.
        bridgeState.rsaCredentialEntry = reinterpret_cast<CK_C_OpenSessionAndGetRSACredential>(
            platform::findSymbol(bridgeState.moduleHandle, "C_OpenSessionAndGetRSACredential"));
        trace(" Done: " BRIDGE_PRIxADDR "\n", BRIDGE_ADDR(bridgeState.rsaCredentialEntry));
        if (bridgeState.rsaCredentialEntry == nullptr) return BRIDGE_ERR_NO_FUNCTION;
    }
    trace("JNI:BRIDGE: Calling C_OpenSessionAndGetRSACredential...");
    trace("alias (len=%i)...", static_cast<int>(aliasLen));
    trace("PIN (len=%i)...", static_cast<int>(pinLen));
    *slot = 0;
    *session = 0;
    *privateKey = 0;
    *publicKey = 0;
    *certificate = 0;
    CK_RV rv =
        bridgeState.rsaCredentialEntry(reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(alias)), aliasLen, selector,
                                       reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)), pinLen, nullptr,
                                       nullptr, slot, session, privateKey, publicKey, certificate);
    trace(" Done(slot=%li)\n", *slot);
    trace(" Done(session=%li)\n", *session);
    trace(" Done(pPrivate " BRIDGE_PRIxADDR ")\n", BRIDGE_ADDR(privateKey));
    trace(" Done(pPublic  " BRIDGE_PRIxADDR ")\n", BRIDGE_ADDR(publicKey));
    trace(" Done(pCertif. " BRIDGE_PRIxADDR ")\n", BRIDGE_ADDR(certificate));
    trace(" Done(Private=%li)\n", *privateKey);
    trace(" Done(Public =%li)\n", *publicKey);
    trace(" Done(Certif.=%li)\n", *certificate);
    return rv;
}
