#include "crypto_calls.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "script.h"

using script::hex;
using script::number;
using script::record;
using script::result;
using script::text;

std::string mechanismText(CK_MECHANISM_PTR mechanism) {
    if (mechanism == nullptr) return "mechanism=null";
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "mechanism=0x%lx parameter=%s parameterLen=%lu", mechanism->mechanism,
                  mechanism->pParameter != nullptr ? "set" : "null", mechanism->ulParameterLen);
    return buffer;
}

std::string templateText(CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    if (templ == nullptr) return "template=null count=" + std::to_string(count);
    std::string out = "template=[";
    for (CK_ULONG i = 0; i < count; i++) {
        char type[32];
        std::snprintf(type, sizeof type, "%s0x%lx=", i == 0 ? "" : " ", templ[i].type);
        out += type;
        out += hex(templ[i].pValue, templ[i].ulValueLen);
    }
    return out + "] count=" + std::to_string(count);
}

static std::vector<unsigned char> bytesOf(const std::string& hexText) {
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < hexText.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::strtoul(hexText.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

// The standard's output convention: a null buffer asks for the length, a short one is
// refused with the length needed, otherwise the bytes are written and counted.
static CK_RV produce(const char* function, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    CK_RV rv = result(function);
    if (rv != CKR_OK) return rv;
    std::vector<unsigned char> bytes = bytesOf(text((std::string("out.") + function).c_str(), "a1a2a3a4"));
    CK_ULONG needed = bytes.size();
    if (out == nullptr) {
        *outLen = needed;
        return CKR_OK;
    }
    if (*outLen < needed) {
        *outLen = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < needed; i++) out[i] = bytes[i];
    *outLen = number((std::string("claim.") + function).c_str(), needed);
    return CKR_OK;
}

static CK_RV initOperation(const char* function, CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism,
                           CK_OBJECT_HANDLE key) {
    record("%s session=%lu %s key=%lu", function, session, mechanismText(mechanism).c_str(), key);
    return result(function);
}

// Overlapping input and output buffers are outside the standard: recorded as such.
static const char* outputText(CK_BYTE_PTR data, CK_ULONG dataLen, CK_BYTE_PTR out, CK_ULONG outLen) {
    if (out == nullptr) return "null";
    bool overlapping = dataLen > 0 && outLen > 0 && out < data + dataLen && data < out + outLen;
    return overlapping ? "overlapping" : "set";
}

static CK_RV oneShot(const char* function, CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen,
                     CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    record("%s session=%lu data=%s dataLen=%lu out=%s outLen=%lu", function, session, hex(data, dataLen).c_str(),
           dataLen, outputText(data, dataLen, out, *outLen), *outLen);
    return produce(function, out, outLen);
}

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initOperation("C_SignInit", hSession, pMechanism, hKey);
}

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) {
    return oneShot("C_Sign", hSession, pData, ulDataLen, pSignature, pulSignatureLen);
}

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initOperation("C_EncryptInit", hSession, pMechanism, hKey);
}

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen) {
    return oneShot("C_Encrypt", hSession, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
}

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initOperation("C_DecryptInit", hSession, pMechanism, hKey);
}

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                CK_ULONG_PTR pulDataLen) {
    return oneShot("C_Decrypt", hSession, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
}

CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                    CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
    record("C_GenerateKey session=%lu %s %s", hSession, mechanismText(pMechanism).c_str(),
           templateText(pTemplate, ulCount).c_str());
    CK_RV rv = result("C_GenerateKey");
    if (rv == CKR_OK) *phKey = number("key.generated", 10);
    return rv;
}

CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
    record("C_WrapKey session=%lu %s wrappingKey=%lu key=%lu out=%s outLen=%lu", hSession,
           mechanismText(pMechanism).c_str(), hWrappingKey, hKey, pWrappedKey != nullptr ? "set" : "null",
           *pulWrappedKeyLen);
    return produce("C_WrapKey", pWrappedKey, pulWrappedKeyLen);
}

CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                  CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                  CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    record("C_UnwrapKey session=%lu %s unwrappingKey=%lu wrapped=%s wrappedLen=%lu %s", hSession,
           mechanismText(pMechanism).c_str(), hUnwrappingKey, hex(pWrappedKey, ulWrappedKeyLen).c_str(),
           ulWrappedKeyLen, templateText(pTemplate, ulAttributeCount).c_str());
    CK_RV rv = result("C_UnwrapKey");
    if (rv == CKR_OK) *phKey = number("key.unwrapped", 11);
    return rv;
}
