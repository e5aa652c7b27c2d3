// Scripted single-part operations and key management of the scriptable module.
//
// Every call is recorded with its mechanism (type, parameter presence, parameter length), the
// input bytes and, for the calls that produce output, the length word as the caller passed it
// ("outLen" on entry) and whether an output buffer was given.
//
// Keys:
//   out.<C_Function>     hex bytes the call produces (C_Sign, C_Encrypt, C_Decrypt, C_WrapKey),
//                        default "a1a2a3a4"; a null output or a length word smaller than
//                        this answers with the required length (CKR_BUFFER_TOO_SMALL for the
//                        latter), as the standard says
//   claim.<C_Function>   length word handed back after a successful output call instead of
//                        the produced count (a lying module)
//   key.generated        handle C_GenerateKey hands out (default 10)
//   key.unwrapped        handle C_UnwrapKey hands out (default 11)
#pragma once

#include <string>

#include "cryptoki.h"

// Record texts: "mechanism=0x.. parameter=null|set parameterLen=N", and
// "template=[0xTYPE=HEX ...] count=N" with each value's bytes, so tests can hold templates
// byte for byte.
std::string mechanismText(CK_MECHANISM_PTR mechanism);
std::string templateText(CK_ATTRIBUTE_PTR templ, CK_ULONG count);

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey);
CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen);
CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey);
CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen);
CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey);
CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                CK_ULONG_PTR pulDataLen);
CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                    CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey);
CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen);
CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                  CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                  CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey);
