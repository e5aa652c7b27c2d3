// The frame every native of p11bridge stands on: process-wide state, module binding,
// tracing, exceptions for Java, handle readers, conversions, JNI guards and the module
// call wrappers.
#pragma once

#include <jni.h>

#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "cryptoki.h"
#include "dynlib.h"

// Bridge result codes, in the Cryptoki vendor range so they can never collide with a
// standard result.
constexpr CK_RV BRIDGE_ERR_NO_FUNCTION = 0x80000001UL;
constexpr CK_RV BRIDGE_ERR_NO_MEMORY = 0x80000002UL;
constexpr CK_RV BRIDGE_ERR_NOT_INITIALIZED = 0x80000003UL;

// Java class names the natives build results with.
#define BRIDGE_CLASS_EXCEPTION "it/vantrel/pkcs11/PKCS11Exception"
#define BRIDGE_CLASS_MODULE "it/vantrel/pkcs11/nat/NativePKCS11"
#define BRIDGE_CLASS_SLOT "it/vantrel/pkcs11/nat/NativePKCS11Slot"
#define BRIDGE_CLASS_SESSION "it/vantrel/pkcs11/nat/NativePKCS11Session"
#define BRIDGE_CLASS_OBJECT "it/vantrel/pkcs11/nat/NativePKCS11Object"
#define BRIDGE_CTOR_SLOT "(Lit/vantrel/pkcs11/nat/NativePKCS11;I)V"
#define BRIDGE_CTOR_SESSION "(Lit/vantrel/pkcs11/nat/NativePKCS11Slot;I)V"
#define BRIDGE_CTOR_OBJECT "(Lit/vantrel/pkcs11/nat/NativePKCS11Session;I)V"

// One record per process, zero at load. No lock: callers serialise their use of the bridge.
struct BridgeState {
    int traceEnabled;
    platform::LibraryHandle moduleHandle;
    CK_FUNCTION_LIST_PTR functionList;
    int moduleInitialized;
    CK_C_OpenSessionAndGetRSACredential rsaCredentialEntry;
};
extern BridgeState bridgeState;

// ---- Trace -----------------------------------------------------------------------------

#if defined(__GNUC__)
#define BRIDGE_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define BRIDGE_PRINTF_FORMAT(f, a)
#endif

// Switches tracing on when PKCS11_OXL_DEBUG exists; a value starting with '2' also moves
// standard output to the trace file.
void applyTraceSetting();
void traceArgs(const char* format, va_list args);
// Writes whatever the trace flag says (the few lines that are always printed).
void traceAlways(const char* format, ...) BRIDGE_PRINTF_FORMAT(1, 2);
// Writes only while tracing is on. Every native traces several times, so a switched-off
// trace is a test of the flag here, not a call.
#define trace(...) (bridgeState.traceEnabled ? traceAlways(__VA_ARGS__) : void(0))
// The line written when a text cannot be turned into a Java string.
void traceConversionError();
// Name of the file standard output is moved to ("c:\jpkcs110.log" on Windows).
extern const char* const bridgeTraceFileName;
// printf conversion for addresses: "%lx" where long holds a pointer, the pointer's width elsewhere.
#define BRIDGE_PRIxADDR "%" PRIxPTR
#define BRIDGE_ADDR(p) static_cast<uintptr_t>(reinterpret_cast<uintptr_t>(p))

// ---- Module binding --------------------------------------------------------------------

// Loads the module by path and fetches its function list.
CK_RV bindModule(const char* path, CK_FUNCTION_LIST_PTR* functionList);
// Releases the bound module and forgets everything that pointed into it.
void releaseModule();

// ---- Exceptions for Java -----------------------------------------------------------------

void throwMessageException(JNIEnv* env, const char* message);
void throwErrorCode(JNIEnv* env, CK_RV rv);
void throwErrorCodeFlagged(JNIEnv* env, CK_RV rv);
// The usual end of a failed module call: raise its exception. True when rv is a failure.
inline bool throwIfFailed(JNIEnv* env, CK_RV rv) {
    if (rv == CKR_OK) return false;
    throwErrorCode(env, rv);
    return true;
}

// ---- Handles from peers --------------------------------------------------------------------
// Each reads the peer's field on every call. A null peer or a peer without the field leaves
// a Java exception pending and returns false; the native then returns at once.

bool getSlotHandle(JNIEnv* env, jobject slot, CK_SLOT_ID* handle);
bool getSessionHandle(JNIEnv* env, jobject session, CK_SESSION_HANDLE* handle);
bool getObjectHandle(JNIEnv* env, jobject object, CK_OBJECT_HANDLE* handle);
bool getObjectSessionHandle(JNIEnv* env, jobject object, CK_SESSION_HANDLE* handle);

// ---- Conversions ---------------------------------------------------------------------------

jint versionToInt(CK_VERSION version);
// Blank-padded Cryptoki text of `width` bytes to a Java string, blanks kept; a zero byte
// ends it early. Null (after the error line) when the JVM cannot make the string.
jstring paddedToJString(JNIEnv* env, const CK_UTF8CHAR* field, size_t width);
inline jboolean bboolToJBoolean(CK_BBOOL value) { return value != 0 ? JNI_TRUE : JNI_FALSE; }
inline CK_BBOOL jbooleanToBBool(jboolean value) { return static_cast<CK_BBOOL>(value); }
// Java int and CK_ULONG share their low 32 bits; the upper bits of a 64-bit CK_ULONG are 0.
inline CK_ULONG jintToUlong(jint value) { return static_cast<CK_ULONG>(static_cast<unsigned int>(value)); }
inline jint ulongToJint(CK_ULONG value) { return static_cast<jint>(static_cast<unsigned int>(value & 0xFFFFFFFFUL)); }

// ---- Native buffers ------------------------------------------------------------------------

// Room for `count` elements of `size` bytes, or null when that is implausibly large or the
// heap is exhausted. Released with free().
void* allocateElements(size_t count, size_t size);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// ---- JNI guards (release in reverse order of acquisition, as the natives need) ------------

// Modified UTF-8 characters of a Java string; chars() is null for a null string or when the
// JVM could not provide them.
class JStringChars {
public:
    JStringChars(JNIEnv* env, jstring text);
    ~JStringChars();
    JStringChars(const JStringChars&) = delete;
    JStringChars& operator=(const JStringChars&) = delete;
    const char* chars() const { return chars_; }
    CK_UTF8CHAR_PTR bytes() const { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(chars_)); }

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_;
};

// Elements of a Java primitive array, released with the given mode (0 copies back, JNI_ABORT
// does not). get() is null for a null array or when the JVM could not provide them.
class ByteArrayElements {
public:
    ByteArrayElements(JNIEnv* env, jbyteArray array, jint releaseMode);
    ~ByteArrayElements();
    ByteArrayElements(const ByteArrayElements&) = delete;
    ByteArrayElements& operator=(const ByteArrayElements&) = delete;
    jbyte* get() const { return elements_; }
    CK_BYTE_PTR bytes() const { return reinterpret_cast<CK_BYTE_PTR>(elements_); }
    jsize length() const { return length_; }

private:
    JNIEnv* env_;
    jbyteArray array_;
    jbyte* elements_;
    jsize length_;
    jint releaseMode_;
};

class IntArrayElements {
public:
    IntArrayElements(JNIEnv* env, jintArray array, jint releaseMode);
    ~IntArrayElements();
    IntArrayElements(const IntArrayElements&) = delete;
    IntArrayElements& operator=(const IntArrayElements&) = delete;
    jint* get() const { return elements_; }
    jsize length() const { return length_; }
    // Gives the elements back now (mode as constructed); later calls do nothing.
    void release();

private:
    JNIEnv* env_;
    jintArray array_;
    jint* elements_;
    jsize length_;
    jint releaseMode_;
};

// A local reference deleted when it leaves scope.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    void reset(T ref) {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
        ref_ = ref;
    }
    T release() {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }

private:
    JNIEnv* env_;
    T ref_;
};

// Finds a class and its constructor; false when either is missing (the JVM's error stays
// pending).
bool findConstructor(JNIEnv* env, const char* className, const char* signature, LocalRef<jclass>& cls,
                     jmethodID* constructor);
// A new peer (slot, session or object) built from its owner and a handle; null on failure.
jobject newPeer(JNIEnv* env, const char* className, const char* signature, jobject owner, CK_ULONG handle);

// ---- Module call wrappers --------------------------------------------------------------------

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
// The list is allocated for the caller (release with free); null when the count is 0.
CK_RV bridgeGetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID** slotList, CK_ULONG* count);
CK_RV bridgeGetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info);
CK_RV bridgeGetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info);
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
// Asks for one object; *object is 0 when none was found.
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

// Exports of the JNI natives: plain names on linux64 and win64; on win32 the decorated
// stdcall names come from the module-definition file generated at build time.
#define BRIDGE_NATIVE(result) extern "C" BRIDGE_EXPORT result JNICALL
