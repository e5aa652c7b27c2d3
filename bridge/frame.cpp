#include "frame.h"

#include <cstdio>
#include <cstring>

#include "bridge_config.h"

BridgeState bridgeState = {};

const char* const bridgeTraceFileName = BRIDGE_TRACE_FILE;

// ---- Trace -----------------------------------------------------------------------------

void applyTraceSetting() {
    const char* setting = std::getenv("PKCS11_OXL_DEBUG");
    if (setting == nullptr) return;
    if (setting[0] == '2') {
        std::printf("redirecting stdout on %s ", bridgeTraceFileName);
        // A failed reopen leaves nothing to trace into; the bridge works on regardless.
        (void)std::freopen(bridgeTraceFileName, "a+", stdout);
    }
    bridgeState.traceEnabled = 1;
}

void traceArgs(const char* format, va_list args) {
    if (bridgeState.traceEnabled) std::vprintf(format, args);
}

void traceAlways(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void traceConversionError() { std::puts("JNI:##########ERROR################"); }

// ---- Module binding --------------------------------------------------------------------

CK_RV bindModule(const char* path, CK_FUNCTION_LIST_PTR* functionList) {
    trace("JNI:BRIDGE: Start loading library...");
    // An earlier handle is replaced, not released: its function list may still be in use.
    bridgeState.moduleHandle = platform::loadLibrary(path);
    trace(" Done: " BRIDGE_PRIxADDR "\n", BRIDGE_ADDR(bridgeState.moduleHandle));
    if (bridgeState.moduleHandle == nullptr) return BRIDGE_ERR_NO_FUNCTION;

    trace("JNI:BRIDGE: Getting FuncList address...");
    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(platform::findSymbol(bridgeState.moduleHandle, "C_GetFunctionList"));
    trace(" Done: " BRIDGE_PRIxADDR "\n", BRIDGE_ADDR(getFunctionList));
    if (getFunctionList == nullptr) return BRIDGE_ERR_NO_FUNCTION;

    trace("JNI:BRIDGE: Calling FuncList...");
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_RV rv = getFunctionList(&list);
    trace(" Done: " BRIDGE_PRIxADDR "\n", BRIDGE_ADDR(list));
    if (rv != CKR_OK) return rv;
    if (list == nullptr) return BRIDGE_ERR_NO_FUNCTION;
    bridgeState.functionList = list;
    // The extension entry belonged to whatever module was bound before.
    bridgeState.rsaCredentialEntry = nullptr;
    *functionList = list;
    return CKR_OK;
}

void releaseModule() {
    if (bridgeState.moduleHandle != nullptr) platform::releaseLibrary(bridgeState.moduleHandle);
    bridgeState.moduleHandle = nullptr;
    bridgeState.moduleInitialized = 0;
    // Nothing may call into a released module: forget every address that pointed into it.
    bridgeState.functionList = nullptr;
    bridgeState.rsaCredentialEntry = nullptr;
}

// ---- Exceptions for Java -----------------------------------------------------------------

void throwMessageException(JNIEnv* env, const char* message) {
    trace("JNI: Throwing vendor defined exc '%s'...", message);
    LocalRef<jclass> cls(env, env->FindClass(BRIDGE_CLASS_EXCEPTION));
    if (!cls) return;
    env->ThrowNew(cls.get(), message);
    trace(" Done\n");
}

static void throwCodeException(JNIEnv* env, CK_RV rv, bool flagged) {
    trace("JNI: Throwing exc number %lx...", rv);
    jmethodID constructor = nullptr;
    LocalRef<jclass> cls(env, nullptr);
    if (!findConstructor(env, BRIDGE_CLASS_EXCEPTION, flagged ? "(IZ)V" : "(I)V", cls, &constructor)) return;
    jobject created = flagged ? env->NewObject(cls.get(), constructor, ulongToJint(rv),
                                               rv >= CKR_VENDOR_DEFINED ? JNI_TRUE : JNI_FALSE)
                              : env->NewObject(cls.get(), constructor, ulongToJint(rv));
    LocalRef<jobject> exception(env, created);
    if (!exception) return;
    env->Throw(static_cast<jthrowable>(exception.get()));
    trace(" Done\n");
}

void throwErrorCode(JNIEnv* env, CK_RV rv) {
    if (rv >= CKR_VENDOR_DEFINED) {
        trace("JNI: Throwing exc number %lx...", rv);
        throwMessageException(env, "Internal error");
    } else if (rv == CKR_OK) {
        throwMessageException(env, "Unknown internal error");
    } else {
        throwCodeException(env, rv, false);
    }
}

void throwErrorCodeFlagged(JNIEnv* env, CK_RV rv) {
    if (rv == CKR_OK) {
        throwMessageException(env, "Unknown internal error");
        return;
    }
    throwCodeException(env, rv, true);
}

// ---- Handles from peers --------------------------------------------------------------------

static bool readIntField(JNIEnv* env, jobject peer, const char* field, CK_ULONG* handle) {
    *handle = 0;
    if (peer == nullptr) {
        throwMessageException(env, "Internal error (Null parameter)");
        return false;
    }
    LocalRef<jclass> cls(env, env->GetObjectClass(peer));
    jfieldID id = env->GetFieldID(cls.get(), field, "I");
    if (id == nullptr) return false;  // NoSuchFieldError pending
    *handle = jintToUlong(env->GetIntField(peer, id));
    return true;
}

bool getSlotHandle(JNIEnv* env, jobject slot, CK_SLOT_ID* handle) { return readIntField(env, slot, "slotID", handle); }

bool getSessionHandle(JNIEnv* env, jobject session, CK_SESSION_HANDLE* handle) {
    return readIntField(env, session, "sessionID", handle);
}

bool getObjectHandle(JNIEnv* env, jobject object, CK_OBJECT_HANDLE* handle) {
    return readIntField(env, object, "objectID", handle);
}

bool getObjectSessionHandle(JNIEnv* env, jobject object, CK_SESSION_HANDLE* handle) {
    *handle = 0;
    if (object == nullptr) {
        throwMessageException(env, "Internal error (Null parameter)");
        return false;
    }
    LocalRef<jclass> cls(env, env->GetObjectClass(object));
    jfieldID id = env->GetFieldID(cls.get(), "session", "L" BRIDGE_CLASS_SESSION ";");
    if (id == nullptr) return false;
    LocalRef<jobject> session(env, env->GetObjectField(object, id));
    return getSessionHandle(env, session.get(), handle);
}

// ---- Conversions ---------------------------------------------------------------------------

jint versionToInt(CK_VERSION version) { return version.major * 256 + version.minor; }

// True when the zero-terminated text is modified UTF-8, the only form NewStringUTF takes;
// anything else would be undefined behaviour inside the JVM.
static bool isModifiedUtf8(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        int following = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : -1;
        if (following < 0) return false;
        p++;
        for (int i = 0; i < following; i++, p++) {
            if ((*p & 0xC0) != 0x80) return false;
        }
    }
    return true;
}

jstring paddedToJString(JNIEnv* env, const CK_UTF8CHAR* field, size_t width) {
    char* text = static_cast<char*>(allocateElements(width + 1, 1));
    jstring result = nullptr;
    if (text != nullptr) {
        std::memcpy(text, field, width);
        text[width] = '\0';
        if (isModifiedUtf8(text)) result = env->NewStringUTF(text);
        std::free(text);
    }
    if (result == nullptr) {
        // The JVM's own failure (out of memory) must not stay pending under the caller,
        // which goes on building its result.
        if (env->ExceptionCheck()) env->ExceptionClear();
        traceConversionError();
    }
    return result;
}

// ---- Native buffers ------------------------------------------------------------------------

// No module answer needs more; larger sizes are faults and must not reach the allocator.
static const size_t maximumAllocation = size_t(1) << 28;

void* allocateElements(size_t count, size_t size) {
    if (size == 0 || count > maximumAllocation / size) return nullptr;
    return std::malloc(count == 0 ? 1 : count * size);
}

// ---- JNI guards ------------------------------------------------------------------------------

JStringChars::JStringChars(JNIEnv* env, jstring text)
    : env_(env), text_(text), chars_(text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr) {}

JStringChars::~JStringChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
}

ByteArrayElements::ByteArrayElements(JNIEnv* env, jbyteArray array, jint releaseMode)
    : env_(env), array_(array), elements_(nullptr), length_(0), releaseMode_(releaseMode) {
    if (array == nullptr) return;
    length_ = env->GetArrayLength(array);
    elements_ = env->GetByteArrayElements(array, nullptr);
    if (elements_ == nullptr) length_ = 0;
}

ByteArrayElements::~ByteArrayElements() {
    if (elements_ != nullptr) env_->ReleaseByteArrayElements(array_, elements_, releaseMode_);
}

IntArrayElements::IntArrayElements(JNIEnv* env, jintArray array, jint releaseMode)
    : env_(env), array_(array), elements_(nullptr), length_(0), releaseMode_(releaseMode) {
    if (array == nullptr) return;
    length_ = env->GetArrayLength(array);
    elements_ = env->GetIntArrayElements(array, nullptr);
    if (elements_ == nullptr) length_ = 0;
}

void IntArrayElements::release() {
    if (elements_ != nullptr) env_->ReleaseIntArrayElements(array_, elements_, releaseMode_);
    elements_ = nullptr;
}

IntArrayElements::~IntArrayElements() { release(); }

bool findConstructor(JNIEnv* env, const char* className, const char* signature, LocalRef<jclass>& cls,
                     jmethodID* constructor) {
    jclass found = env->FindClass(className);
    if (found == nullptr) return false;
    cls.reset(found);
    *constructor = env->GetMethodID(found, "<init>", signature);
    return *constructor != nullptr;
}

jobject newPeer(JNIEnv* env, const char* className, const char* signature, jobject owner, CK_ULONG handle) {
    LocalRef<jclass> cls(env, nullptr);
    jmethodID constructor = nullptr;
    if (!findConstructor(env, className, signature, cls, &constructor)) return nullptr;
    return env->NewObject(cls.get(), constructor, owner, ulongToJint(handle));
}

// ---- Module call wrappers --------------------------------------------------------------------

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
// A module that reports more entries the second time than it had room for is refused.
template <typename Entry, typename Element, typename First>
static CK_RV fetchList(Entry entry, First first, Element** list, CK_ULONG* count, const char* countFormat) {
    *list = nullptr;
    *count = 0;
    CK_ULONG wanted = 0;
    CK_RV rv = entry(first, nullptr, &wanted);
    trace(countFormat, wanted, rv);
    if (rv != CKR_OK) return rv;
    Element* buffer = static_cast<Element*>(allocateElements(wanted, sizeof(Element)));
    if (buffer == nullptr) return BRIDGE_ERR_NO_MEMORY;
    CK_ULONG filled = wanted;
    rv = entry(first, buffer, &filled);
    trace(" Done\n");
    if (rv == CKR_OK && filled > wanted) rv = CKR_GENERAL_ERROR;
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
    return fetchList(entry, tokenPresent, slotList, count, " (slots=%li)... %li");
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
    // The count line carries no result; the argument is there for the shared format call.
    return fetchList(entry, slot, mechanisms, count, "(mechs=%li)...\n");
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

CK_RV bridgeCloseAllSessions(CK_SLOT_ID slot) {
    return callModule(&CK_FUNCTION_LIST::C_CloseAllSessions, "JNI:BRIDGE: Calling C_CloseAllSessions...", slot);
}

CK_RV bridgeCloseSession(CK_SESSION_HANDLE session) {
    return callModule(&CK_FUNCTION_LIST::C_CloseSession, "JNI:BRIDGE: Calling C_CloseSession...", session);
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
    if (found == 0) *object = 0;
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
    return callModule(&CK_FUNCTION_LIST::C_DestroyObject, "JNI:BRIDGE: Calling C_DestroyObject...", session, object);
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
    if (rv == CKR_OK && attribute->ulValueLen > length) rv = CKR_GENERAL_ERROR;
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
