#include "creation_calls.h"

#include "crypto_calls.h"
#include "script.h"

using script::number;
using script::record;
using script::result;

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) {
    record("C_CreateObject session=%lu %s", hSession, templateText(pTemplate, ulCount).c_str());
    CK_RV rv = result("C_CreateObject");
    if (rv == CKR_OK) *phObject = number("object.created", 20);
    return rv;
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    record("C_DestroyObject session=%lu object=%lu", hSession, hObject);
    return result("C_DestroyObject");
}

CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) {
    record("C_GetObjectSize session=%lu object=%lu", hSession, hObject);
    CK_RV rv = result("C_GetObjectSize");
    if (rv == CKR_OK) *pulSize = number("object.size", 0);
    return rv;
}

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                        CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                        CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey,
                        CK_OBJECT_HANDLE_PTR phPrivateKey) {
    record("C_GenerateKeyPair session=%lu %s public %s private %s", hSession, mechanismText(pMechanism).c_str(),
           templateText(pPublicKeyTemplate, ulPublicKeyAttributeCount).c_str(),
           templateText(pPrivateKeyTemplate, ulPrivateKeyAttributeCount).c_str());
    CK_RV rv = result("C_GenerateKeyPair");
    if (rv != CKR_OK) return rv;
    *phPublicKey = number("keypair.public", 30);
    *phPrivateKey = number("keypair.private", 31);
    return CKR_OK;
}
