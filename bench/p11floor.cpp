// The floor of the token benchmarks: the Cryptoki calls each bridge workload makes, made
// straight from C against the module with nothing around them.
//   p11floor MODULE REPS     one line "workload,floor,ns per call" per repetition
// The keys and search objects are session objects made at start, as the Java side makes its
// own: token objects would have the module re-read its files on every access and bury the
// cost of the call in file I/O.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_token.h"
#include "cryptoki.h"
#include "dynlib.h"

namespace {

struct Token {
    CK_FUNCTION_LIST_PTR f;
    CK_SLOT_ID slot;
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE aesKey;
    CK_OBJECT_HANDLE rsaKey;
    CK_OBJECT_HANDLE certificate;
    CK_OBJECT_HANDLE largeObject;
};

void check(CK_RV rv, const char* what) {
    if (rv == CKR_OK) return;
    std::fprintf(stderr, "p11floor: %s failed: 0x%lx\n", what, static_cast<unsigned long>(rv));
    std::exit(1);
}

CK_ATTRIBUTE attribute(CK_ATTRIBUTE_TYPE type, const void* value, size_t length) {
    return CK_ATTRIBUTE{type, const_cast<void*>(value), static_cast<CK_ULONG>(length)};
}

CK_ATTRIBUTE labelAttribute(const char* label) { return attribute(CKA_LABEL, label, std::strlen(label)); }

// Handles of every object of the class with the label (at most `room`).
CK_ULONG findAll(Token& t, CK_OBJECT_CLASS objectClass, const char* label, CK_OBJECT_HANDLE* found, CK_ULONG room) {
    CK_ATTRIBUTE templ[] = {attribute(CKA_CLASS, &objectClass, sizeof objectClass), labelAttribute(label)};
    check(t.f->C_FindObjectsInit(t.session, templ, 2), "C_FindObjectsInit");
    CK_ULONG count = 0;
    check(t.f->C_FindObjects(t.session, found, room, &count), "C_FindObjects");
    check(t.f->C_FindObjectsFinal(t.session), "C_FindObjectsFinal");
    return count;
}

CK_OBJECT_HANDLE findOne(Token& t, CK_OBJECT_CLASS objectClass, const char* label) {
    CK_OBJECT_HANDLE handle = 0;
    return findAll(t, objectClass, label, &handle, 1) == 1 ? handle : 0;
}

void open(Token& t, const char* modulePath) {
    platform::LibraryHandle module = platform::loadLibrary(modulePath);
    if (module == nullptr) {
        std::fprintf(stderr, "p11floor: cannot load %s\n", modulePath);
        std::exit(1);
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(platform::findSymbol(module, "C_GetFunctionList"));
    if (getFunctionList == nullptr) check(CKR_GENERAL_ERROR, "C_GetFunctionList lookup");
    check(getFunctionList(&t.f), "C_GetFunctionList");
    check(t.f->C_Initialize(nullptr), "C_Initialize");
    // The initialised token (the module may offer an empty one beside it).
    CK_SLOT_ID slots[16];
    CK_ULONG count = 16;
    check(t.f->C_GetSlotList(CK_TRUE, slots, &count), "C_GetSlotList");
    t.slot = ~CK_SLOT_ID(0);
    for (CK_ULONG i = 0; i < count && t.slot == ~CK_SLOT_ID(0); i++) {
        CK_TOKEN_INFO info;
        if (t.f->C_GetTokenInfo(slots[i], &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED) != 0)
            t.slot = slots[i];
    }
    if (t.slot == ~CK_SLOT_ID(0)) check(CKR_TOKEN_NOT_PRESENT, "initialised token");
    check(t.f->C_OpenSession(t.slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &t.session),
          "C_OpenSession");
    CK_RV rv = t.f->C_Login(t.session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(BENCH_USER_PIN)),
                            std::strlen(BENCH_USER_PIN));
    if (rv != CKR_USER_ALREADY_LOGGED_IN) check(rv, "C_Login");
}

void createObjects(Token& t) {
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    {
        CK_ULONG length = 16;
        CK_MECHANISM mechanism{CKM_AES_KEY_GEN, nullptr, 0};
        CK_ATTRIBUTE templ[] = {attribute(CKA_TOKEN, &no, 1), labelAttribute(BENCH_AES_LABEL),
                                attribute(CKA_VALUE_LEN, &length, sizeof length), attribute(CKA_ENCRYPT, &yes, 1),
                                attribute(CKA_PRIVATE, &no, 1)};
        CK_OBJECT_HANDLE key;
        check(t.f->C_GenerateKey(t.session, &mechanism, templ, 5, &key), "C_GenerateKey");
    }
    {
        CK_ULONG bits = 2048;
        CK_BYTE exponent[] = {1, 0, 1};
        CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        CK_ATTRIBUTE publicTemplate[] = {attribute(CKA_TOKEN, &no, 1), labelAttribute(BENCH_RSA_LABEL),
                                         attribute(CKA_MODULUS_BITS, &bits, sizeof bits),
                                         attribute(CKA_PUBLIC_EXPONENT, exponent, sizeof exponent),
                                         attribute(CKA_VERIFY, &yes, 1)};
        CK_ATTRIBUTE privateTemplate[] = {attribute(CKA_TOKEN, &no, 1), labelAttribute(BENCH_RSA_LABEL),
                                          attribute(CKA_PRIVATE, &yes, 1), attribute(CKA_SIGN, &yes, 1)};
        CK_OBJECT_HANDLE publicKey, privateKey;
        check(t.f->C_GenerateKeyPair(t.session, &mechanism, publicTemplate, 5, privateTemplate, 4, &publicKey,
                                     &privateKey),
              "C_GenerateKeyPair");
    }
    for (int i = 0; i < BENCH_FIND_COUNT + BENCH_FIND_LARGE_COUNT; i++) {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_BYTE value = static_cast<CK_BYTE>(i);
        CK_ATTRIBUTE templ[] = {attribute(CKA_CLASS, &dataClass, sizeof dataClass), attribute(CKA_TOKEN, &no, 1),
                                attribute(CKA_PRIVATE, &no, 1),
                                labelAttribute(i < BENCH_FIND_COUNT ? BENCH_FIND_LABEL : BENCH_FIND_LARGE_LABEL),
                                attribute(CKA_VALUE, &value, 1)};
        CK_OBJECT_HANDLE object;
        check(t.f->C_CreateObject(t.session, templ, 5, &object), "C_CreateObject");
    }
    {
        CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
        CK_CERTIFICATE_TYPE certificateType = CKC_X_509;
        static const CK_BYTE subject[] = {0x30, 0x00};
        CK_BYTE value[BENCH_CERT_LENGTH];
        for (size_t i = 0; i < sizeof value; i++) value[i] = static_cast<CK_BYTE>(i);
        CK_ATTRIBUTE templ[] = {attribute(CKA_CLASS, &certificateClass, sizeof certificateClass),
                                attribute(CKA_CERTIFICATE_TYPE, &certificateType, sizeof certificateType),
                                attribute(CKA_TOKEN, &no, 1),
                                labelAttribute(BENCH_CERT_LABEL),
                                attribute(CKA_SUBJECT, subject, sizeof subject),
                                attribute(CKA_VALUE, value, sizeof value)};
        CK_OBJECT_HANDLE object;
        check(t.f->C_CreateObject(t.session, templ, 6, &object), "C_CreateObject");
    }
    {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        std::vector<CK_BYTE> value(BENCH_LARGE_VALUE_LENGTH);
        CK_ATTRIBUTE templ[] = {attribute(CKA_CLASS, &dataClass, sizeof dataClass), attribute(CKA_TOKEN, &no, 1),
                                attribute(CKA_PRIVATE, &no, 1), labelAttribute(BENCH_LARGE_LABEL),
                                attribute(CKA_VALUE, value.data(), value.size())};
        CK_OBJECT_HANDLE object;
        check(t.f->C_CreateObject(t.session, templ, 5, &object), "C_CreateObject");
    }
}

// ---- Workloads: the calls the bridge's native makes, in the same order ----------------------

void sessionInfo(Token& t) {
    CK_SESSION_INFO info;
    check(t.f->C_GetSessionInfo(t.session, &info), "C_GetSessionInfo");
}

void tokenInfo(Token& t) {
    CK_TOKEN_INFO info;
    check(t.f->C_GetTokenInfo(t.slot, &info), "C_GetTokenInfo");
}

void mechanismList(Token& t) {
    CK_MECHANISM_TYPE mechanisms[256];
    CK_ULONG count = 0;
    check(t.f->C_GetMechanismList(t.slot, nullptr, &count), "C_GetMechanismList");
    if (count > 256) check(CKR_GENERAL_ERROR, "mechanism count");
    check(t.f->C_GetMechanismList(t.slot, mechanisms, &count), "C_GetMechanismList");
}

// The two calls of an attribute read: the length, then the value.
template <size_t room>
void readValue(Token& t, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    CK_BYTE value[room];
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    check(t.f->C_GetAttributeValue(t.session, object, &attribute, 1), "C_GetAttributeValue");
    if (attribute.ulValueLen > sizeof value) check(CKR_GENERAL_ERROR, "attribute length");
    attribute.pValue = value;
    check(t.f->C_GetAttributeValue(t.session, object, &attribute, 1), "C_GetAttributeValue");
}

void labelRead(Token& t) { readValue<256>(t, t.aesKey, CKA_LABEL); }

void certificateRead(Token& t) { readValue<BENCH_CERT_LENGTH>(t, t.certificate, CKA_VALUE); }

// The 1 MB value, in the two calls of an attribute read into a buffer of the caller's.
void largeValueRead(Token& t) {
    static std::vector<CK_BYTE> value(BENCH_LARGE_VALUE_LENGTH);
    CK_ATTRIBUTE attribute{CKA_VALUE, nullptr, 0};
    check(t.f->C_GetAttributeValue(t.session, t.largeObject, &attribute, 1), "C_GetAttributeValue");
    if (attribute.ulValueLen > value.size()) check(CKR_GENERAL_ERROR, "attribute length");
    attribute.pValue = value.data();
    check(t.f->C_GetAttributeValue(t.session, t.largeObject, &attribute, 1), "C_GetAttributeValue");
}

// A data object of six attributes, destroyed again so that the token stays as it was.
void createObjectWith(Token& t, const CK_BYTE* value, size_t length) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_BBOOL no = CK_FALSE;
    static const char application[] = "bench";
    CK_ATTRIBUTE templ[] = {attribute(CKA_CLASS, &dataClass, sizeof dataClass),
                            attribute(CKA_TOKEN, &no, 1),
                            attribute(CKA_PRIVATE, &no, 1),
                            labelAttribute(BENCH_CREATE_LABEL),
                            attribute(CKA_APPLICATION, application, std::strlen(application)),
                            attribute(CKA_VALUE, value, length)};
    CK_OBJECT_HANDLE object;
    check(t.f->C_CreateObject(t.session, templ, 6, &object), "C_CreateObject");
    check(t.f->C_DestroyObject(t.session, object), "C_DestroyObject");
}

void createObject(Token& t) {
    static const CK_BYTE value[] = {1, 2, 3, 4, 5, 6, 7, 8};
    createObjectWith(t, value, sizeof value);
}

void createLargeObject(Token& t) {
    static const std::vector<CK_BYTE> value(BENCH_LARGE_VALUE_LENGTH);
    createObjectWith(t, value.data(), value.size());
}

// An initialisation with a parameterless mechanism, then the single-part call.
template <size_t dataLength, size_t outLength>
void initAndRun(Token& t, CK_C_SignInit init, CK_C_Sign run, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key) {
    CK_BYTE data[dataLength] = {0};
    CK_BYTE out[outLength];
    CK_ULONG outLen = outLength;
    CK_MECHANISM mechanism{type, nullptr, 0};
    check(init(t.session, &mechanism, key), "initialisation");
    check(run(t.session, data, dataLength, out, &outLen), "single-part call");
}

void aesEncrypt(Token& t) { initAndRun<16, 16>(t, t.f->C_EncryptInit, t.f->C_Encrypt, CKM_AES_ECB, t.aesKey); }

void rsaSign(Token& t) {
    initAndRun<BENCH_SIGN_DATA_LENGTH, 256>(t, t.f->C_SignInit, t.f->C_Sign, CKM_SHA256_RSA_PKCS, t.rsaKey);
}

// As initAndRun, over data too large for the stack.
template <size_t dataLength, size_t outLength>
void initAndRunLarge(Token& t, CK_C_SignInit init, CK_C_Sign run, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key) {
    static std::vector<CK_BYTE> data(dataLength);
    static std::vector<CK_BYTE> out(outLength);
    CK_ULONG outLen = outLength;
    CK_MECHANISM mechanism{type, nullptr, 0};
    check(init(t.session, &mechanism, key), "initialisation");
    check(run(t.session, data.data(), dataLength, out.data(), &outLen), "single-part call");
}

template <size_t length>
void aesEncryptLarge(Token& t) {
    initAndRunLarge<length, length>(t, t.f->C_EncryptInit, t.f->C_Encrypt, CKM_AES_ECB, t.aesKey);
}

void rsaSignLarge(Token& t) {
    initAndRunLarge<16 << 20, 256>(t, t.f->C_SignInit, t.f->C_Sign, CKM_SHA256_RSA_PKCS, t.rsaKey);
}

void findLoop(Token& t, const char* label, int expected) {
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    CK_ATTRIBUTE templ[] = {attribute(CKA_CLASS, &dataClass, sizeof dataClass), labelAttribute(label)};
    check(t.f->C_FindObjectsInit(t.session, templ, 2), "C_FindObjectsInit");
    int seen = 0;
    for (;;) {
        CK_OBJECT_HANDLE object;
        CK_ULONG found = 0;
        check(t.f->C_FindObjects(t.session, &object, 1, &found), "C_FindObjects");
        if (found == 0) break;
        seen++;
    }
    check(t.f->C_FindObjectsFinal(t.session), "C_FindObjectsFinal");
    if (seen != expected) check(CKR_GENERAL_ERROR, "object count");
}

void find100(Token& t) { findLoop(t, BENCH_FIND_LABEL, BENCH_FIND_COUNT); }

void find1000(Token& t) { findLoop(t, BENCH_FIND_LARGE_LABEL, BENCH_FIND_LARGE_COUNT); }

void slotList(Token& t) {
    CK_SLOT_ID slots[16];
    CK_ULONG count = 0;
    check(t.f->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
    if (count > 16) check(CKR_GENERAL_ERROR, "slot count");
    check(t.f->C_GetSlotList(CK_TRUE, slots, &count), "C_GetSlotList");
}

struct Workload {
    const char* name;
    long iterations;
    void (*call)(Token&);
};

// Names and iterations as in P11Bench. The traced row's floor is the untraced call: the module
// knows nothing of the bridge's trace.
const Workload workloads[] = {
    {"session_info", 20000, sessionInfo},
    {"attribute_label", 20000, labelRead},
    {"aes_ecb_16", 10000, aesEncrypt},
    {"rsa2048_sha256_sign", 20, rsaSign},
    {"find_100", 200, find100},
    {"slot_list", 20000, slotList},
    {"token_info", 20000, tokenInfo},
    {"mechanism_list", 10000, mechanismList},
    {"certificate_value_1k", 20000, certificateRead},
    {"create_object_6", 5000, createObject},
    {"find_1000", 20, find1000},
    {"aes_ecb_64k", 2000, aesEncryptLarge<64 << 10>},
    {"aes_ecb_1m", 100, aesEncryptLarge<1 << 20>},
    {"aes_ecb_16m", 6, aesEncryptLarge<16 << 20>},
    {"rsa2048_sha256_sign_16m", 4, rsaSignLarge},
    {"create_object_1m", 100, createLargeObject},
    {"attribute_value_1m", 200, largeValueRead},
    {"session_info_traced", 20000, sessionInfo},
};

double nanosecondsPerCall(Token& t, const Workload& w) {
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < w.iterations; i++) w.call(t);
    std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / static_cast<double>(w.iterations);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: p11floor MODULE [REPS]\n");
        return 2;
    }
    int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    Token t{};
    open(t, argv[1]);
    createObjects(t);
    t.aesKey = findOne(t, CKO_SECRET_KEY, BENCH_AES_LABEL);
    t.rsaKey = findOne(t, CKO_PRIVATE_KEY, BENCH_RSA_LABEL);
    t.certificate = findOne(t, CKO_CERTIFICATE, BENCH_CERT_LABEL);
    t.largeObject = findOne(t, CKO_DATA, BENCH_LARGE_LABEL);
    if (t.aesKey == 0 || t.rsaKey == 0 || t.certificate == 0 || t.largeObject == 0)
        check(CKR_KEY_HANDLE_INVALID, "benchmark objects");
    for (const Workload& w : workloads) nanosecondsPerCall(t, w);  // warm-up
    for (int rep = 0; rep < reps; rep++) {
        for (const Workload& w : workloads) std::printf("%s,floor,%.1f\n", w.name, nanosecondsPerCall(t, w));
    }
    t.f->C_Logout(t.session);
    t.f->C_CloseSession(t.session);
    t.f->C_Finalize(nullptr);
    return 0;
}
