// Cryptoki (PKCS#11 v2.x) declarations of this project: the types, constants and the
// 68-entry function list the bridge and the test modules use.
// Windows modules are built with every structure packed to 1 byte and a 32-bit CK_ULONG
// (unsigned long is 32 bits there); Unix modules use natural alignment and a 64-bit
// CK_ULONG. The build defines CRYPTOKI_PACK_1 for the Windows targets.
#pragma once

#include <cstddef>

#if CRYPTOKI_PACK_1
#pragma pack(push, 1)
#endif

extern "C" {

typedef unsigned char CK_BYTE;
typedef CK_BYTE CK_CHAR;
typedef CK_BYTE CK_UTF8CHAR;
typedef CK_BYTE CK_BBOOL;
typedef unsigned long CK_ULONG;
typedef long CK_LONG;
typedef CK_ULONG CK_FLAGS;
typedef CK_BYTE* CK_BYTE_PTR;
typedef CK_CHAR* CK_CHAR_PTR;
typedef CK_UTF8CHAR* CK_UTF8CHAR_PTR;
typedef CK_ULONG* CK_ULONG_PTR;
typedef void* CK_VOID_PTR;
typedef CK_VOID_PTR* CK_VOID_PTR_PTR;

typedef CK_ULONG CK_RV;
typedef CK_ULONG CK_SLOT_ID;
typedef CK_SLOT_ID* CK_SLOT_ID_PTR;
typedef CK_ULONG CK_SESSION_HANDLE;
typedef CK_SESSION_HANDLE* CK_SESSION_HANDLE_PTR;
typedef CK_ULONG CK_OBJECT_HANDLE;
typedef CK_OBJECT_HANDLE* CK_OBJECT_HANDLE_PTR;
typedef CK_ULONG CK_USER_TYPE;
typedef CK_ULONG CK_STATE;
typedef CK_ULONG CK_OBJECT_CLASS;
typedef CK_ULONG CK_KEY_TYPE;
typedef CK_ULONG CK_CERTIFICATE_TYPE;
typedef CK_ULONG CK_ATTRIBUTE_TYPE;
typedef CK_ULONG CK_MECHANISM_TYPE;
typedef CK_MECHANISM_TYPE* CK_MECHANISM_TYPE_PTR;
typedef CK_ULONG CK_NOTIFICATION;

struct CK_VERSION {
    CK_BYTE major;
    CK_BYTE minor;
};

struct CK_INFO {
    CK_VERSION cryptokiVersion;
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_UTF8CHAR libraryDescription[32];
    CK_VERSION libraryVersion;
};

struct CK_SLOT_INFO {
    CK_UTF8CHAR slotDescription[64];
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
};

struct CK_TOKEN_INFO {
    CK_UTF8CHAR label[32];
    CK_UTF8CHAR manufacturerID[32];
    CK_UTF8CHAR model[16];
    CK_CHAR serialNumber[16];
    CK_FLAGS flags;
    CK_ULONG ulMaxSessionCount;
    CK_ULONG ulSessionCount;
    CK_ULONG ulMaxRwSessionCount;
    CK_ULONG ulRwSessionCount;
    CK_ULONG ulMaxPinLen;
    CK_ULONG ulMinPinLen;
    CK_ULONG ulTotalPublicMemory;
    CK_ULONG ulFreePublicMemory;
    CK_ULONG ulTotalPrivateMemory;
    CK_ULONG ulFreePrivateMemory;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
    CK_CHAR utcTime[16];
};

struct CK_SESSION_INFO {
    CK_SLOT_ID slotID;
    CK_STATE state;
    CK_FLAGS flags;
    CK_ULONG ulDeviceError;
};

struct CK_ATTRIBUTE {
    CK_ATTRIBUTE_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;
};
typedef CK_ATTRIBUTE* CK_ATTRIBUTE_PTR;

struct CK_DATE {
    CK_CHAR year[4];
    CK_CHAR month[2];
    CK_CHAR day[2];
};

struct CK_MECHANISM {
    CK_MECHANISM_TYPE mechanism;
    CK_VOID_PTR pParameter;
    CK_ULONG ulParameterLen;
};
typedef CK_MECHANISM* CK_MECHANISM_PTR;

struct CK_MECHANISM_INFO {
    CK_ULONG ulMinKeySize;
    CK_ULONG ulMaxKeySize;
    CK_FLAGS flags;
};
typedef CK_MECHANISM_INFO* CK_MECHANISM_INFO_PTR;

typedef CK_RV (*CK_NOTIFY)(CK_SESSION_HANDLE hSession, CK_NOTIFICATION event, CK_VOID_PTR pApplication);

struct CK_FUNCTION_LIST;
typedef CK_FUNCTION_LIST* CK_FUNCTION_LIST_PTR;
typedef CK_FUNCTION_LIST_PTR* CK_FUNCTION_LIST_PTR_PTR;

// The 68 functions in the standard's order: name, then the parameter list.
#define CRYPTOKI_FUNCTIONS(X)                                                                                          \
    X(C_Initialize, (CK_VOID_PTR pInitArgs))                                                                           \
    X(C_Finalize, (CK_VOID_PTR pReserved))                                                                             \
    X(C_GetInfo, (CK_INFO * pInfo))                                                                                    \
    X(C_GetFunctionList, (CK_FUNCTION_LIST_PTR_PTR ppFunctionList))                                                    \
    X(C_GetSlotList, (CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount))                         \
    X(C_GetSlotInfo, (CK_SLOT_ID slotID, CK_SLOT_INFO * pInfo))                                                        \
    X(C_GetTokenInfo, (CK_SLOT_ID slotID, CK_TOKEN_INFO * pInfo))                                                      \
    X(C_GetMechanismList, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount))            \
    X(C_GetMechanismInfo, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo))                    \
    X(C_InitToken, (CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel))               \
    X(C_InitPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen))                                \
    X(C_SetPIN, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,      \
                 CK_ULONG ulNewLen))                                                                                   \
    X(C_OpenSession, (CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,                   \
                      CK_SESSION_HANDLE_PTR phSession))                                                                \
    X(C_CloseSession, (CK_SESSION_HANDLE hSession))                                                                    \
    X(C_CloseAllSessions, (CK_SLOT_ID slotID))                                                                         \
    X(C_GetSessionInfo, (CK_SESSION_HANDLE hSession, CK_SESSION_INFO * pInfo))                                         \
    X(C_GetOperationState,                                                                                             \
      (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG_PTR pulOperationStateLen))                    \
    X(C_SetOperationState, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG ulOperationStateLen,     \
                            CK_OBJECT_HANDLE hEncryptionKey, CK_OBJECT_HANDLE hAuthenticationKey))                     \
    X(C_Login, (CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen))           \
    X(C_Logout, (CK_SESSION_HANDLE hSession))                                                                          \
    X(C_CreateObject,                                                                                                  \
      (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phObject))       \
    X(C_CopyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,                 \
                     CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject))                                              \
    X(C_DestroyObject, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject))                                         \
    X(C_GetObjectSize, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize))                   \
    X(C_GetAttributeValue,                                                                                             \
      (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))            \
    X(C_SetAttributeValue,                                                                                             \
      (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))            \
    X(C_FindObjectsInit, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))                   \
    X(C_FindObjects, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,            \
                      CK_ULONG_PTR pulObjectCount))                                                                    \
    X(C_FindObjectsFinal, (CK_SESSION_HANDLE hSession))                                                                \
    X(C_EncryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))                 \
    X(C_Encrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,       \
                  CK_ULONG_PTR pulEncryptedDataLen))                                                                   \
    X(C_EncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, \
                        CK_ULONG_PTR pulEncryptedPartLen))                                                             \
    X(C_EncryptFinal,                                                                                                  \
      (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen))              \
    X(C_DecryptInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))                 \
    X(C_Decrypt, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,                 \
                  CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen))                                                         \
    X(C_DecryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,           \
                        CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))                                                   \
    X(C_DecryptFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen))                \
    X(C_DigestInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism))                                         \
    X(C_Digest, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,               \
                 CK_ULONG_PTR pulDigestLen))                                                                           \
    X(C_DigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))                             \
    X(C_DigestKey, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey))                                                \
    X(C_DigestFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen))                     \
    X(C_SignInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))                    \
    X(C_Sign, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,              \
               CK_ULONG_PTR pulSignatureLen))                                                                          \
    X(C_SignUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))                               \
    X(C_SignFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen))                 \
    X(C_SignRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))             \
    X(C_SignRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,       \
                      CK_ULONG_PTR pulSignatureLen))                                                                   \
    X(C_VerifyInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))                  \
    X(C_Verify, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,            \
                 CK_ULONG ulSignatureLen))                                                                             \
    X(C_VerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))                             \
    X(C_VerifyFinal, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen))                    \
    X(C_VerifyRecoverInit, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey))           \
    X(C_VerifyRecover, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen,                   \
                        CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen))                                                   \
    X(C_DigestEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,                       \
                              CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))                           \
    X(C_DecryptDigestUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,     \
                              CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))                                             \
    X(C_SignEncryptUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,                         \
                            CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))                             \
    X(C_DecryptVerifyUpdate, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,     \
                              CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))                                             \
    X(C_GenerateKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,             \
                      CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey))                                                   \
    X(C_GenerateKeyPair,                                                                                               \
      (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate,                   \
       CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,  \
       CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey))                                           \
    X(C_WrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,              \
                  CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen))                      \
    X(C_UnwrapKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,          \
                    CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,                     \
                    CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey))                                            \
    X(C_DeriveKey, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,                \
                    CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey))                \
    X(C_SeedRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen))                               \
    X(C_GenerateRandom, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen))                   \
    X(C_GetFunctionStatus, (CK_SESSION_HANDLE hSession))                                                               \
    X(C_CancelFunction, (CK_SESSION_HANDLE hSession))                                                                  \
    X(C_WaitForSlotEvent, (CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved))

// Entry types CK_C_<name>, cdecl as every Cryptoki module is built.
#define CRYPTOKI_ENTRY_TYPE(name, params) typedef CK_RV(*CK_##name) params;
CRYPTOKI_FUNCTIONS(CRYPTOKI_ENTRY_TYPE)
#undef CRYPTOKI_ENTRY_TYPE

struct CK_FUNCTION_LIST {
    CK_VERSION version;
#define CRYPTOKI_ENTRY_FIELD(name, params) CK_##name name;
    CRYPTOKI_FUNCTIONS(CRYPTOKI_ENTRY_FIELD)
#undef CRYPTOKI_ENTRY_FIELD
};

// The vendor extension some modules export by name (not part of the function list).
typedef CK_RV (*CK_C_OpenSessionAndGetRSACredential)(CK_UTF8CHAR_PTR alias, CK_ULONG aliasLen, CK_ULONG selector,
                                                     CK_UTF8CHAR_PTR pin, CK_ULONG pinLen, CK_VOID_PTR reserved1,
                                                     CK_VOID_PTR reserved2, CK_SLOT_ID_PTR slot,
                                                     CK_SESSION_HANDLE_PTR session, CK_OBJECT_HANDLE_PTR privateKey,
                                                     CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR certificate);

}  // extern "C"

#if CRYPTOKI_PACK_1
#pragma pack(pop)
#endif

// Constants.
constexpr CK_BBOOL CK_TRUE = 1;
constexpr CK_BBOOL CK_FALSE = 0;
constexpr CK_ULONG CK_INVALID_HANDLE = 0;

constexpr CK_FLAGS CKF_TOKEN_PRESENT = 0x1;
constexpr CK_FLAGS CKF_REMOVABLE_DEVICE = 0x2;
constexpr CK_FLAGS CKF_HW_SLOT = 0x4;
constexpr CK_FLAGS CKF_RNG = 0x1;
constexpr CK_FLAGS CKF_WRITE_PROTECTED = 0x2;
constexpr CK_FLAGS CKF_LOGIN_REQUIRED = 0x4;
constexpr CK_FLAGS CKF_USER_PIN_INITIALIZED = 0x8;
constexpr CK_FLAGS CKF_PROTECTED_AUTHENTICATION_PATH = 0x100;
constexpr CK_FLAGS CKF_TOKEN_INITIALIZED = 0x400;
constexpr CK_FLAGS CKF_RW_SESSION = 0x2;
constexpr CK_FLAGS CKF_SERIAL_SESSION = 0x4;
constexpr CK_FLAGS CKF_HW = 0x1;
constexpr CK_FLAGS CKF_ENCRYPT = 0x100;
constexpr CK_FLAGS CKF_DECRYPT = 0x200;
constexpr CK_FLAGS CKF_DIGEST = 0x400;
constexpr CK_FLAGS CKF_SIGN = 0x800;
constexpr CK_FLAGS CKF_VERIFY = 0x2000;
constexpr CK_FLAGS CKF_GENERATE = 0x8000;
constexpr CK_FLAGS CKF_GENERATE_KEY_PAIR = 0x10000;
constexpr CK_FLAGS CKF_WRAP = 0x20000;
constexpr CK_FLAGS CKF_UNWRAP = 0x40000;

constexpr CK_USER_TYPE CKU_SO = 0;
constexpr CK_USER_TYPE CKU_USER = 1;
constexpr CK_USER_TYPE CKU_CONTEXT_SPECIFIC = 2;

constexpr CK_STATE CKS_RO_PUBLIC_SESSION = 0;
constexpr CK_STATE CKS_RO_USER_FUNCTIONS = 1;
constexpr CK_STATE CKS_RW_PUBLIC_SESSION = 2;
constexpr CK_STATE CKS_RW_USER_FUNCTIONS = 3;
constexpr CK_STATE CKS_RW_SO_FUNCTIONS = 4;

constexpr CK_OBJECT_CLASS CKO_DATA = 0x0;
constexpr CK_OBJECT_CLASS CKO_CERTIFICATE = 0x1;
constexpr CK_OBJECT_CLASS CKO_PUBLIC_KEY = 0x2;
constexpr CK_OBJECT_CLASS CKO_PRIVATE_KEY = 0x3;
constexpr CK_OBJECT_CLASS CKO_SECRET_KEY = 0x4;
constexpr CK_OBJECT_CLASS CKO_VENDOR_DEFINED = 0x80000000UL;

constexpr CK_KEY_TYPE CKK_RSA = 0x0;
constexpr CK_KEY_TYPE CKK_DSA = 0x1;
constexpr CK_KEY_TYPE CKK_EC = 0x3;
constexpr CK_KEY_TYPE CKK_GENERIC_SECRET = 0x10;
constexpr CK_KEY_TYPE CKK_DES = 0x13;
constexpr CK_KEY_TYPE CKK_DES3 = 0x15;
constexpr CK_KEY_TYPE CKK_AES = 0x1F;

constexpr CK_CERTIFICATE_TYPE CKC_X_509 = 0x0;

constexpr CK_ATTRIBUTE_TYPE CKA_CLASS = 0x0;
constexpr CK_ATTRIBUTE_TYPE CKA_TOKEN = 0x1;
constexpr CK_ATTRIBUTE_TYPE CKA_PRIVATE = 0x2;
constexpr CK_ATTRIBUTE_TYPE CKA_LABEL = 0x3;
constexpr CK_ATTRIBUTE_TYPE CKA_APPLICATION = 0x10;
constexpr CK_ATTRIBUTE_TYPE CKA_VALUE = 0x11;
constexpr CK_ATTRIBUTE_TYPE CKA_OBJECT_ID = 0x12;
constexpr CK_ATTRIBUTE_TYPE CKA_CERTIFICATE_TYPE = 0x80;
constexpr CK_ATTRIBUTE_TYPE CKA_ISSUER = 0x81;
constexpr CK_ATTRIBUTE_TYPE CKA_SERIAL_NUMBER = 0x82;
constexpr CK_ATTRIBUTE_TYPE CKA_TRUSTED = 0x86;
constexpr CK_ATTRIBUTE_TYPE CKA_KEY_TYPE = 0x100;
constexpr CK_ATTRIBUTE_TYPE CKA_SUBJECT = 0x101;
constexpr CK_ATTRIBUTE_TYPE CKA_ID = 0x102;
constexpr CK_ATTRIBUTE_TYPE CKA_SENSITIVE = 0x103;
constexpr CK_ATTRIBUTE_TYPE CKA_ENCRYPT = 0x104;
constexpr CK_ATTRIBUTE_TYPE CKA_DECRYPT = 0x105;
constexpr CK_ATTRIBUTE_TYPE CKA_WRAP = 0x106;
constexpr CK_ATTRIBUTE_TYPE CKA_UNWRAP = 0x107;
constexpr CK_ATTRIBUTE_TYPE CKA_SIGN = 0x108;
constexpr CK_ATTRIBUTE_TYPE CKA_SIGN_RECOVER = 0x109;
constexpr CK_ATTRIBUTE_TYPE CKA_VERIFY = 0x10A;
constexpr CK_ATTRIBUTE_TYPE CKA_VERIFY_RECOVER = 0x10B;
constexpr CK_ATTRIBUTE_TYPE CKA_DERIVE = 0x10C;
constexpr CK_ATTRIBUTE_TYPE CKA_START_DATE = 0x110;
constexpr CK_ATTRIBUTE_TYPE CKA_END_DATE = 0x111;
constexpr CK_ATTRIBUTE_TYPE CKA_MODULUS = 0x120;
constexpr CK_ATTRIBUTE_TYPE CKA_MODULUS_BITS = 0x121;
constexpr CK_ATTRIBUTE_TYPE CKA_PUBLIC_EXPONENT = 0x122;
constexpr CK_ATTRIBUTE_TYPE CKA_PRIVATE_EXPONENT = 0x123;
constexpr CK_ATTRIBUTE_TYPE CKA_PRIME_1 = 0x124;
constexpr CK_ATTRIBUTE_TYPE CKA_PRIME_2 = 0x125;
constexpr CK_ATTRIBUTE_TYPE CKA_EXPONENT_1 = 0x126;
constexpr CK_ATTRIBUTE_TYPE CKA_EXPONENT_2 = 0x127;
constexpr CK_ATTRIBUTE_TYPE CKA_COEFFICIENT = 0x128;
constexpr CK_ATTRIBUTE_TYPE CKA_VALUE_BITS = 0x160;
constexpr CK_ATTRIBUTE_TYPE CKA_VALUE_LEN = 0x161;
constexpr CK_ATTRIBUTE_TYPE CKA_EXTRACTABLE = 0x162;
constexpr CK_ATTRIBUTE_TYPE CKA_LOCAL = 0x163;
constexpr CK_ATTRIBUTE_TYPE CKA_NEVER_EXTRACTABLE = 0x164;
constexpr CK_ATTRIBUTE_TYPE CKA_ALWAYS_SENSITIVE = 0x165;
constexpr CK_ATTRIBUTE_TYPE CKA_MODIFIABLE = 0x170;
constexpr CK_ATTRIBUTE_TYPE CKA_VENDOR_DEFINED = 0x80000000UL;

constexpr CK_MECHANISM_TYPE CKM_RSA_PKCS_KEY_PAIR_GEN = 0x0;
constexpr CK_MECHANISM_TYPE CKM_RSA_PKCS = 0x1;
constexpr CK_MECHANISM_TYPE CKM_RSA_X_509 = 0x3;
constexpr CK_MECHANISM_TYPE CKM_MD5_RSA_PKCS = 0x5;
constexpr CK_MECHANISM_TYPE CKM_SHA1_RSA_PKCS = 0x6;
constexpr CK_MECHANISM_TYPE CKM_SHA256_RSA_PKCS = 0x40;
constexpr CK_MECHANISM_TYPE CKM_DES_KEY_GEN = 0x120;
constexpr CK_MECHANISM_TYPE CKM_DES3_KEY_GEN = 0x131;
constexpr CK_MECHANISM_TYPE CKM_DES3_ECB = 0x132;
constexpr CK_MECHANISM_TYPE CKM_DES3_CBC = 0x133;
constexpr CK_MECHANISM_TYPE CKM_SHA_1 = 0x220;
constexpr CK_MECHANISM_TYPE CKM_SHA256 = 0x250;
constexpr CK_MECHANISM_TYPE CKM_GENERIC_SECRET_KEY_GEN = 0x350;
constexpr CK_MECHANISM_TYPE CKM_AES_KEY_GEN = 0x1080;
constexpr CK_MECHANISM_TYPE CKM_AES_ECB = 0x1081;
constexpr CK_MECHANISM_TYPE CKM_AES_CBC = 0x1082;
constexpr CK_MECHANISM_TYPE CKM_AES_KEY_WRAP = 0x2109;
constexpr CK_MECHANISM_TYPE CKM_VENDOR_DEFINED = 0x80000000UL;

constexpr CK_RV CKR_OK = 0x0;
constexpr CK_RV CKR_CANCEL = 0x1;
constexpr CK_RV CKR_HOST_MEMORY = 0x2;
constexpr CK_RV CKR_SLOT_ID_INVALID = 0x3;
constexpr CK_RV CKR_GENERAL_ERROR = 0x5;
constexpr CK_RV CKR_FUNCTION_FAILED = 0x6;
constexpr CK_RV CKR_ARGUMENTS_BAD = 0x7;
constexpr CK_RV CKR_ATTRIBUTE_READ_ONLY = 0x10;
constexpr CK_RV CKR_ATTRIBUTE_SENSITIVE = 0x11;
constexpr CK_RV CKR_ATTRIBUTE_TYPE_INVALID = 0x12;
constexpr CK_RV CKR_ATTRIBUTE_VALUE_INVALID = 0x13;
constexpr CK_RV CKR_DATA_INVALID = 0x20;
constexpr CK_RV CKR_DATA_LEN_RANGE = 0x21;
constexpr CK_RV CKR_DEVICE_ERROR = 0x30;
constexpr CK_RV CKR_DEVICE_MEMORY = 0x31;
constexpr CK_RV CKR_ENCRYPTED_DATA_INVALID = 0x40;
constexpr CK_RV CKR_ENCRYPTED_DATA_LEN_RANGE = 0x41;
constexpr CK_RV CKR_FUNCTION_NOT_SUPPORTED = 0x54;
constexpr CK_RV CKR_KEY_HANDLE_INVALID = 0x60;
constexpr CK_RV CKR_KEY_TYPE_INCONSISTENT = 0x63;
constexpr CK_RV CKR_MECHANISM_INVALID = 0x70;
constexpr CK_RV CKR_MECHANISM_PARAM_INVALID = 0x71;
constexpr CK_RV CKR_OBJECT_HANDLE_INVALID = 0x82;
constexpr CK_RV CKR_OPERATION_ACTIVE = 0x90;
constexpr CK_RV CKR_OPERATION_NOT_INITIALIZED = 0x91;
constexpr CK_RV CKR_PIN_INCORRECT = 0xA0;
constexpr CK_RV CKR_PIN_INVALID = 0xA1;
constexpr CK_RV CKR_PIN_LEN_RANGE = 0xA2;
constexpr CK_RV CKR_PIN_LOCKED = 0xA4;
constexpr CK_RV CKR_SESSION_CLOSED = 0xB0;
constexpr CK_RV CKR_SESSION_COUNT = 0xB1;
constexpr CK_RV CKR_SESSION_HANDLE_INVALID = 0xB3;
constexpr CK_RV CKR_SESSION_PARALLEL_NOT_SUPPORTED = 0xB4;
constexpr CK_RV CKR_SESSION_READ_ONLY = 0xB5;
constexpr CK_RV CKR_SESSION_EXISTS = 0xB6;
constexpr CK_RV CKR_SESSION_READ_ONLY_EXISTS = 0xB7;
constexpr CK_RV CKR_SESSION_READ_WRITE_SO_EXISTS = 0xB8;
constexpr CK_RV CKR_SIGNATURE_INVALID = 0xC0;
constexpr CK_RV CKR_SIGNATURE_LEN_RANGE = 0xC1;
constexpr CK_RV CKR_TEMPLATE_INCOMPLETE = 0xD0;
constexpr CK_RV CKR_TEMPLATE_INCONSISTENT = 0xD1;
constexpr CK_RV CKR_TOKEN_NOT_PRESENT = 0xE0;
constexpr CK_RV CKR_TOKEN_NOT_RECOGNIZED = 0xE1;
constexpr CK_RV CKR_TOKEN_WRITE_PROTECTED = 0xE2;
constexpr CK_RV CKR_USER_ALREADY_LOGGED_IN = 0x100;
constexpr CK_RV CKR_USER_NOT_LOGGED_IN = 0x101;
constexpr CK_RV CKR_USER_PIN_NOT_INITIALIZED = 0x102;
constexpr CK_RV CKR_USER_TYPE_INVALID = 0x103;
constexpr CK_RV CKR_USER_ANOTHER_ALREADY_LOGGED_IN = 0x104;
constexpr CK_RV CKR_WRAPPED_KEY_INVALID = 0x110;
constexpr CK_RV CKR_WRAPPED_KEY_LEN_RANGE = 0x112;
constexpr CK_RV CKR_RANDOM_NO_RNG = 0x121;
constexpr CK_RV CKR_BUFFER_TOO_SMALL = 0x150;
constexpr CK_RV CKR_CRYPTOKI_NOT_INITIALIZED = 0x190;
constexpr CK_RV CKR_CRYPTOKI_ALREADY_INITIALIZED = 0x191;
constexpr CK_RV CKR_VENDOR_DEFINED = 0x80000000UL;
