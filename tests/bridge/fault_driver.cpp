// The fault driver of the bridge: every native of the four peers runs in the JNI double with,
// in turn, the k-th JNI call that can fail failing, the k-th allocation of the bridge failing
// and the k-th call into the scriptable module answering CKR_DEVICE_ERROR, for k = 1, 2, ...
// until a run ends without reaching the planned failure. After every run: no JNI call was made
// on top of a pending exception or while an array was pinned, every string, array element and
// pinned array was given back, the local references held never grew past the 16 a JVM
// guarantees (the lists run 40 long), the live heap is back where it was, and the Java caller
// sees an exception or a result, never both.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "frame.h"
#include "jni_double.h"
#include "live_heap.h"

#define NATIVE(name) Java_it_vantrel_pkcs11_nat_##name
extern "C" {
jlong NATIVE(NativePKCS11_loadPKCS11Library)(JNIEnv*, jobject, jstring);
void NATIVE(NativePKCS11_libInitialize)(JNIEnv*, jobject);
void NATIVE(NativePKCS11_libFinalize)(JNIEnv*, jobject);
jobject NATIVE(NativePKCS11_getInfo)(JNIEnv*, jobject);
jobjectArray NATIVE(NativePKCS11_getSlotList)(JNIEnv*, jobject, jboolean);
jstring NATIVE(NativePKCS11_getBridgeVersion)(JNIEnv*, jobject);
jobjectArray NATIVE(NativePKCS11_getRSAcredential)(JNIEnv*, jobject, jstring, jint, jstring);
jobject NATIVE(NativePKCS11Slot_getInfo)(JNIEnv*, jobject);
jobject NATIVE(NativePKCS11Slot_getTokenInfo)(JNIEnv*, jobject);
jstring NATIVE(NativePKCS11Slot_getTokenSN)(JNIEnv*, jobject);
jintArray NATIVE(NativePKCS11Slot_getMechanismList)(JNIEnv*, jobject);
jobject NATIVE(NativePKCS11Slot_getMechanismInfo)(JNIEnv*, jobject, jint);
jobject NATIVE(NativePKCS11Slot_openSession)(JNIEnv*, jobject, jint, jobject, jobject);
void NATIVE(NativePKCS11Slot_closeAllSessions)(JNIEnv*, jobject);
void NATIVE(NativePKCS11Session_close)(JNIEnv*, jobject);
void NATIVE(NativePKCS11Session_logout)(JNIEnv*, jobject);
jobject NATIVE(NativePKCS11Session_getInfo)(JNIEnv*, jobject);
void NATIVE(NativePKCS11Session_login)(JNIEnv*, jobject, jboolean, jstring);
void NATIVE(NativePKCS11Session_loginAuthPath)(JNIEnv*, jobject, jboolean);
void NATIVE(NativePKCS11Session_initPIN)(JNIEnv*, jobject, jstring);
void NATIVE(NativePKCS11Session_setPIN)(JNIEnv*, jobject, jstring, jstring);
void NATIVE(NativePKCS11Session_findObjectsInit)(JNIEnv*, jobject, jintArray, jobjectArray);
jobject NATIVE(NativePKCS11Session_findObject)(JNIEnv*, jobject);
void NATIVE(NativePKCS11Session_findObjectsFinal)(JNIEnv*, jobject);
jobject NATIVE(NativePKCS11Session_createObject)(JNIEnv*, jobject, jintArray, jobjectArray);
void NATIVE(NativePKCS11Session_installCertificate)(JNIEnv*, jobject, jint, jint, jbyteArray, jint, jint, jstring,
                                                    jstring, jstring, jstring);
void NATIVE(NativePKCS11Session_signInit)(JNIEnv*, jobject, jint, jobject, jobject);
jint NATIVE(NativePKCS11Session_sign)(JNIEnv*, jobject, jbyteArray, jint, jint, jbyteArray, jint);
void NATIVE(NativePKCS11Session_encryptInit)(JNIEnv*, jobject, jint, jobject, jobject);
jint NATIVE(NativePKCS11Session_encrypt)(JNIEnv*, jobject, jbyteArray, jint, jint, jbyteArray, jint);
void NATIVE(NativePKCS11Session_decryptInit)(JNIEnv*, jobject, jint, jobject, jobject);
jint NATIVE(NativePKCS11Session_decrypt)(JNIEnv*, jobject, jbyteArray, jint, jint, jbyteArray, jint);
jobjectArray NATIVE(NativePKCS11Session_generateKeyPair)(JNIEnv*, jobject, jint, jobject, jintArray, jobjectArray,
                                                         jintArray, jobjectArray);
jobjectArray NATIVE(NativePKCS11Session_generateKeyPairOB)(JNIEnv*, jobject, jint, jboolean);
jobject NATIVE(NativePKCS11Session_generateKey)(JNIEnv*, jobject, jint, jobject, jintArray, jobjectArray);
jint NATIVE(NativePKCS11Session_wrapKey)(JNIEnv*, jobject, jint, jobject, jobject, jobject, jbyteArray, jint);
jobject NATIVE(NativePKCS11Session_unwrapKey)(JNIEnv*, jobject, jint, jobject, jobject, jbyteArray, jint, jint,
                                              jintArray, jobjectArray);
jobject NATIVE(NativePKCS11Session_getIdentrusObject)(JNIEnv*, jobject);
jint NATIVE(NativePKCS11Session_getCardStatus)(JNIEnv*, jobject);
void NATIVE(NativePKCS11Session_setCardStatus)(JNIEnv*, jobject, jint);
void NATIVE(NativePKCS11Session_logintirvex)(JNIEnv*, jobject, jboolean, jbyteArray);
void NATIVE(NativePKCS11Session_setPINtirvex)(JNIEnv*, jobject, jbyteArray, jbyteArray);
jboolean NATIVE(NativePKCS11Object_getBoolAttributeValue)(JNIEnv*, jobject, jint);
jint NATIVE(NativePKCS11Object_getIntAttributeValue)(JNIEnv*, jobject, jint);
jstring NATIVE(NativePKCS11Object_getStringAttributeValue)(JNIEnv*, jobject, jint);
jbyteArray NATIVE(NativePKCS11Object_getByteArrayAttributeValue)(JNIEnv*, jobject, jint);
jobject NATIVE(NativePKCS11Object_getBigIntegerAttributeValue)(JNIEnv*, jobject, jint);
jobject NATIVE(NativePKCS11Object_getDateAttributeValue)(JNIEnv*, jobject, jint);
jobject NATIVE(NativePKCS11Object_getAttributeValue)(JNIEnv*, jobject, jint);
void NATIVE(NativePKCS11Object_destroy)(JNIEnv*, jobject);
jint NATIVE(NativePKCS11Object_size)(JNIEnv*, jobject);
void NATIVE(NativePKCS11Object_setAttributeValue)(JNIEnv*, jobject, jint, jobject);
void NATIVE(NativePKCS11Object_setAttributeValues)(JNIEnv*, jobject, jintArray, jobjectArray);
void NATIVE(NativePKCS11Object_setBoolAttributeValue)(JNIEnv*, jobject, jint, jboolean);
void NATIVE(NativePKCS11Object_setIntAttributeValue)(JNIEnv*, jobject, jint, jint);
}

// The natives that refuse with a fixed message, with their parameters after the peer.
#define REFUSED_NATIVES(X)                                                                     \
    X(void, NativePKCS11Session_signUpdate, jbyteArray, jint, jint)                            \
    X(jint, NativePKCS11Session_signFinal, jbyteArray, jint)                                   \
    X(jint, NativePKCS11Session_encryptUpdate, jbyteArray, jint, jint, jbyteArray, jint)       \
    X(jint, NativePKCS11Session_encryptFinal, jbyteArray, jint)                                \
    X(jint, NativePKCS11Session_decryptUpdate, jbyteArray, jint, jint, jbyteArray, jint)       \
    X(jint, NativePKCS11Session_decryptFinal, jbyteArray, jint)                                \
    X(void, NativePKCS11Session_digestInit, jint, jobject)                                     \
    X(jint, NativePKCS11Session_digest, jbyteArray, jint, jint, jbyteArray, jint)              \
    X(void, NativePKCS11Session_digestUpdate, jbyteArray, jint, jint)                          \
    X(void, NativePKCS11Session_digestKey, jobject)                                            \
    X(jint, NativePKCS11Session_digestFinal, jbyteArray, jint)                                 \
    X(void, NativePKCS11Session_signRecoverInit, jint, jobject, jobject)                       \
    X(jint, NativePKCS11Session_signRecover, jbyteArray, jint, jint, jbyteArray, jint)         \
    X(void, NativePKCS11Session_verifyInit, jint, jobject, jobject)                            \
    X(jboolean, NativePKCS11Session_verify, jbyteArray, jint, jint, jbyteArray, jint, jint)    \
    X(void, NativePKCS11Session_verifyUpdate, jbyteArray, jint, jint)                          \
    X(jboolean, NativePKCS11Session_verifyFinal, jbyteArray, jint, jint)                       \
    X(void, NativePKCS11Session_verifyRecoverInit, jint, jobject, jobject)                     \
    X(jint, NativePKCS11Session_verifyRecover, jbyteArray, jint, jint, jbyteArray, jint)       \
    X(jint, NativePKCS11Session_digestEncryptUpdate, jbyteArray, jint, jint, jbyteArray, jint) \
    X(jint, NativePKCS11Session_decryptDigestUpdate, jbyteArray, jint, jint, jbyteArray, jint) \
    X(jint, NativePKCS11Session_signEncryptUpdate, jbyteArray, jint, jint, jbyteArray, jint)   \
    X(jint, NativePKCS11Session_decryptVerifyUpdate, jbyteArray, jint, jint, jbyteArray, jint) \
    X(jobject, NativePKCS11Session_deriveKey, jint, jobject, jobject, jintArray, jobjectArray) \
    X(void, NativePKCS11Session_seedRandom, jbyteArray, jint, jint)                            \
    X(void, NativePKCS11Session_generateRandom, jbyteArray, jint, jint)                        \
    X(jboolean, NativePKCS11Session_getFunctionStatus)                                         \
    X(void, NativePKCS11Session_cancelFunction)                                                \
    X(jint, NativePKCS11_waitForSlotEvent, jint)                                               \
    X(jobject, NativePKCS11Object_copy, jintArray, jobjectArray)                               \
    X(jbyteArray, NativePKCS11Session_getOperationState)                                       \
    X(void, NativePKCS11Session_setOperationState, jbyteArray, jobject, jobject)               \
    X(void, NativePKCS11Slot_initToken, jstring, jstring)

#define DECLARE_REFUSED(result, name, ...) extern "C" result NATIVE(name)(JNIEnv*, jobject, ##__VA_ARGS__);
REFUSED_NATIVES(DECLARE_REFUSED)

namespace {

// One script per process: the suite's processes run side by side.
const std::string scriptPath = std::string(SCRIPT_DIR) + "/script." + std::to_string(getpid()) + ".txt";

std::string countingList(int from, int count) {
    std::string list;
    for (int i = 0; i < count; i++) list += (i ? " " : "") + std::to_string(from + i);
    return list;
}

// Lists 40 long, so that a local reference kept per element shows; every attribute the getters
// read, one per value kind.
const std::string baseScript = "slots " + countingList(0, 40) + "\nmechanisms " + countingList(1, 40) +
                               "\nsession 44\nrsa.session 33\nrsa.private 9\nrsa.public 10\nrsa.certificate 11\n"
                               "find.handles 5 6\nattribute.3 4c6162656c\nattribute.0 0300000000000000\n"
                               "attribute.1 01\nattribute.17 30820102\nattribute.272 3230323631323039\n"
                               "attribute.288 00c1c2c3\nattribute.16 " +
                               std::string(400, '6') + "\n";

enum class Fault { None, JniCall, Allocation, ModuleCall };
const char* const faultNames[] = {"none", "JNI call", "allocation", "module call"};

// The peers and values one run passes.
struct Peers {
    JNIEnv* env;
    jobject module, slot, session, object;
};

// A native's answer as the Java caller would see it.
enum class Answer { Value, Null, Nothing };
template <typename T>
Answer answerOf(T value) {
    if constexpr (std::is_pointer_v<T>) return value != nullptr ? Answer::Value : Answer::Null;
    return Answer::Nothing;  // a number: Java reads it only when no exception is pending
}

struct Native {
    const char* name;
    std::function<Answer(const Peers&)> call;
    bool nullIsAnAnswer;  // null without an exception is a normal result of this native
    // The first module calls whose failure the native is specified to pass over.
    int moduleFailuresPassedOver = 0;
    // Brings the bridge to the state the native starts from, before the run is measured.
    std::function<void()> prepare = [] {};
};

jstring text(const char* ascii) { return jnidouble::newString(std::u16string(ascii, ascii + std::strlen(ascii))); }
jbyteArray bytes(size_t length) { return jnidouble::newByteArray(std::vector<jbyte>(length, 0x5a)); }
jobject boxed(const char* className, jint value) { return jnidouble::newInstance(className, "value", value); }

// A template of 20 entries of every value kind the bridge converts.
struct Template {
    jintArray types;
    jobjectArray values;
};
Template longTemplate() {
    std::vector<jint> types;
    std::vector<jobject> values;
    for (int i = 0; i < 20; i++) {
        types.push_back(0x80000000 + i);
        switch (i % 6) {
            case 0: values.push_back(text("label")); break;
            case 1: values.push_back(bytes(3)); break;
            case 2: values.push_back(boxed("java/lang/Integer", i)); break;
            case 3: values.push_back(boxed("java/lang/Boolean", 1)); break;
            case 4:
                values.push_back(jnidouble::newInstance("java/math/BigInteger", "unused", 0, "arg", bytes(4)));
                break;
            default: values.push_back(jnidouble::newInstance("java/util/Date", "unused", 0)); break;
        }
    }
    return {jnidouble::newIntArray(types), jnidouble::newObjectArray(values)};
}

template <typename F>
Native row(const char* name, F call, bool nullIsAnAnswer = false) {
    return {name,
            [call](const Peers& p) {
                if constexpr (std::is_void_v<decltype(call(p))>) {
                    call(p);
                    return Answer::Nothing;
                } else {
                    return answerOf(call(p));
                }
            },
            nullIsAnAnswer};
}

// Natives that refuse whatever they are given: called on the session with zero arguments.
template <typename Result, typename... Params>
Native refusedRow(const char* name, Result (*native)(JNIEnv*, jobject, Params...)) {
    return row(name, [native](const Peers& p) { return native(p.env, p.session, Params{}...); });
}

Native* findNative(std::vector<Native>& all, const std::string& name) {
    for (Native& native : all)
        if (name == native.name) return &native;
    return nullptr;
}

std::vector<Native> natives() {
    const jint rsaPkcs = 1, aesKeyGen = 0x1080, rsaKeyPairGen = 0;
    std::vector<Native> all = {
        row("loadPKCS11Library",
            [](const Peers& p) {
                return NATIVE(NativePKCS11_loadPKCS11Library)(p.env, p.module, text(SCRIPT_MODULE));
            }),
        row("libInitialize", [](const Peers& p) { return NATIVE(NativePKCS11_libInitialize)(p.env, p.module); }),
        row("libFinalize", [](const Peers& p) { return NATIVE(NativePKCS11_libFinalize)(p.env, p.module); }),
        row("getInfo", [](const Peers& p) { return NATIVE(NativePKCS11_getInfo)(p.env, p.module); }),
        row("getSlotList", [](const Peers& p) { return NATIVE(NativePKCS11_getSlotList)(p.env, p.module, 1); }),
        row("getBridgeVersion", [](const Peers& p) { return NATIVE(NativePKCS11_getBridgeVersion)(p.env, p.module); }),
        row("getRSAcredential",
            [](const Peers& p) {
                return NATIVE(NativePKCS11_getRSAcredential)(p.env, p.module, text("alias"), 0, text("1234"));
            }),
        row("Slot.getInfo", [](const Peers& p) { return NATIVE(NativePKCS11Slot_getInfo)(p.env, p.slot); }),
        row("getTokenInfo", [](const Peers& p) { return NATIVE(NativePKCS11Slot_getTokenInfo)(p.env, p.slot); }),
        row("getTokenSN", [](const Peers& p) { return NATIVE(NativePKCS11Slot_getTokenSN)(p.env, p.slot); }),
        row("getMechanismList",
            [](const Peers& p) { return NATIVE(NativePKCS11Slot_getMechanismList)(p.env, p.slot); }),
        row("getMechanismInfo",
            [](const Peers& p) { return NATIVE(NativePKCS11Slot_getMechanismInfo)(p.env, p.slot, rsaPkcs); }),
        row("openSession",
            [](const Peers& p) { return NATIVE(NativePKCS11Slot_openSession)(p.env, p.slot, 6, nullptr, nullptr); }),
        row("closeAllSessions",
            [](const Peers& p) { return NATIVE(NativePKCS11Slot_closeAllSessions)(p.env, p.slot); }),
        row("close", [](const Peers& p) { return NATIVE(NativePKCS11Session_close)(p.env, p.session); }),
        row("logout", [](const Peers& p) { return NATIVE(NativePKCS11Session_logout)(p.env, p.session); }),
        row("Session.getInfo", [](const Peers& p) { return NATIVE(NativePKCS11Session_getInfo)(p.env, p.session); }),
        row("login",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_login)(p.env, p.session, 0, text("1234")); }),
        row("loginAuthPath",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_loginAuthPath)(p.env, p.session, 1); }),
        row("initPIN",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_initPIN)(p.env, p.session, text("1234")); }),
        row("setPIN",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_setPIN)(p.env, p.session, text("1234"), text("5678"));
            }),
        row("findObjectsInit",
            [](const Peers& p) {
                Template t = longTemplate();
                return NATIVE(NativePKCS11Session_findObjectsInit)(p.env, p.session, t.types, t.values);
            }),
        row(
            "findObject", [](const Peers& p) { return NATIVE(NativePKCS11Session_findObject)(p.env, p.session); },
            true),
        row("findObjectsFinal",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_findObjectsFinal)(p.env, p.session); }),
        row("createObject",
            [](const Peers& p) {
                Template t = longTemplate();
                return NATIVE(NativePKCS11Session_createObject)(p.env, p.session, t.types, t.values);
            }),
        row("installCertificate",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_installCertificate)(p.env, p.session, 1, 0, bytes(300), 0, 300,
                                                                      text("CN=Subject"), text("0102"),
                                                                      text("CN=Issuer"), text("label"));
            }),
        row("signInit",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_signInit)(p.env, p.session, rsaPkcs, bytes(8), p.object);
            }),
        row("sign",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_sign)(p.env, p.session, bytes(600), 0, 600, bytes(600), 0);
            }),
        row("encryptInit",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_encryptInit)(p.env, p.session, rsaPkcs, nullptr, p.object);
            }),
        row("encrypt",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_encrypt)(p.env, p.session, bytes(16), 0, 16, bytes(16), 0);
            }),
        // In place: the input is read from a copy while the output is pinned.
        row("encrypt.inPlace",
            [](const Peers& p) {
                jbyteArray both = bytes(16);
                return NATIVE(NativePKCS11Session_encrypt)(p.env, p.session, both, 0, 16, both, 0);
            }),
        row("decryptInit",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_decryptInit)(p.env, p.session, rsaPkcs, nullptr, p.object);
            }),
        row("decrypt",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_decrypt)(p.env, p.session, bytes(600), 0, 600, bytes(600), 0);
            }),
        row("generateKeyPair",
            [](const Peers& p) {
                Template pub = longTemplate(), priv = longTemplate();
                return NATIVE(NativePKCS11Session_generateKeyPair)(p.env, p.session, rsaKeyPairGen, nullptr, pub.types,
                                                                   pub.values, priv.types, priv.values);
            }),
        row("generateKeyPairOB",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_generateKeyPairOB)(p.env, p.session, rsaKeyPairGen, 1);
            }),
        row("generateKey",
            [](const Peers& p) {
                Template t = longTemplate();
                return NATIVE(NativePKCS11Session_generateKey)(p.env, p.session, aesKeyGen, nullptr, t.types, t.values);
            }),
        row("wrapKey",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_wrapKey)(p.env, p.session, rsaPkcs, nullptr, p.object, p.object,
                                                           bytes(600), 0);
            }),
        row("unwrapKey",
            [](const Peers& p) {
                Template t = longTemplate();
                return NATIVE(NativePKCS11Session_unwrapKey)(p.env, p.session, rsaPkcs, nullptr, p.object, bytes(600),
                                                             0, 600, t.types, t.values);
            }),
        row(
            "getIdentrusObject",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_getIdentrusObject)(p.env, p.session); }, true),
        row("getCardStatus",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_getCardStatus)(p.env, p.session); }),
        row("setCardStatus",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_setCardStatus)(p.env, p.session, 1); }),
        row("logintirvex",
            [](const Peers& p) { return NATIVE(NativePKCS11Session_logintirvex)(p.env, p.session, 0, bytes(4)); }),
        row("setPINtirvex",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Session_setPINtirvex)(p.env, p.session, bytes(4), bytes(6));
            }),
        row("getBoolAttributeValue",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_getBoolAttributeValue)(p.env, p.object, 1); }),
        row("getIntAttributeValue",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_getIntAttributeValue)(p.env, p.object, 0); }),
        row("getStringAttributeValue",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_getStringAttributeValue)(p.env, p.object, 3); }),
        // A value longer than the stack copy: its heap buffer can be refused.
        row("getStringAttributeValue.long",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_getStringAttributeValue)(p.env, p.object, 16); }),
        row("getByteArrayAttributeValue",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_getByteArrayAttributeValue)(p.env, p.object, 17); }),
        row("getBigIntegerAttributeValue",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Object_getBigIntegerAttributeValue)(p.env, p.object, 288);
            }),
        row("getDateAttributeValue",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_getDateAttributeValue)(p.env, p.object, 272); }),
        row("destroy", [](const Peers& p) { return NATIVE(NativePKCS11Object_destroy)(p.env, p.object); }),
        row("size", [](const Peers& p) { return NATIVE(NativePKCS11Object_size)(p.env, p.object); }),
        row("setAttributeValue",
            [](const Peers& p) {
                return NATIVE(NativePKCS11Object_setAttributeValue)(p.env, p.object, 3, text("label"));
            }),
        row("setAttributeValues",
            [](const Peers& p) {
                Template t = longTemplate();
                return NATIVE(NativePKCS11Object_setAttributeValues)(p.env, p.object, t.types, t.values);
            }),
        row("setBoolAttributeValue",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_setBoolAttributeValue)(p.env, p.object, 1, 1); }),
        row("setIntAttributeValue",
            [](const Peers& p) { return NATIVE(NativePKCS11Object_setIntAttributeValue)(p.env, p.object, 0, 3); }),
    };
    // Bound, not initialised: finalising releases the module.
    findNative(all, "libInitialize")->prepare = [] {
        bridgeFinalize();
        CK_FUNCTION_LIST_PTR list = nullptr;
        bindModule(SCRIPT_MODULE, &list);
    };
    findNative(all, "libFinalize")->moduleFailuresPassedOver = 1;  // C_Finalize's answer shows in the trace only
    // The application search (C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal) failing
    // is no exception of these three.
    for (const char* name : {"getIdentrusObject", "getCardStatus", "setCardStatus"})
        findNative(all, name)->moduleFailuresPassedOver = 3;
    // getAttributeValue decides the value's class by the type: one run per class.
    const std::pair<jint, const char*> valueTypes[] = {{0, "getAttributeValue.0"},     {1, "getAttributeValue.1"},
                                                       {3, "getAttributeValue.3"},     {17, "getAttributeValue.17"},
                                                       {272, "getAttributeValue.272"}, {288, "getAttributeValue.288"}};
    for (const auto& [type, name] : valueTypes) {
        all.push_back(row(name, [type = type](const Peers& p) {
            return NATIVE(NativePKCS11Object_getAttributeValue)(p.env, p.object, type);
        }));
    }
#define REFUSED_ROW(result, name, ...) all.push_back(refusedRow(#name, NATIVE(name)));
    REFUSED_NATIVES(REFUSED_ROW)
    return all;
}

typedef void (*FailModuleCall)(CK_ULONG, CK_RV);
typedef CK_BBOOL (*ModuleFaultPending)();

class BridgeFaults : public ::testing::TestWithParam<Native> {
protected:
    static void SetUpTestSuite() {
        mkdir(SCRIPT_DIR, 0755);
        std::ofstream(scriptPath, std::ios::binary) << baseScript;
        setenv("P11SCRIPT_FILE", scriptPath.c_str(), 1);
        unsetenv("P11SCRIPT_RECORD");
        unsetenv("PKCS11_OXL_DEBUG");
        jnidouble::onReset = releaseLookups;
        // The bridge's own load of the module shares this handle, so the module's fault plan
        // lives as long as the suite whatever the natives bind and release.
        moduleHandle = dlopen(SCRIPT_MODULE, RTLD_NOW);
        ASSERT_NE(nullptr, moduleHandle) << dlerror();
        failModuleCall = reinterpret_cast<FailModuleCall>(dlsym(moduleHandle, "P11Script_FailCall"));
        moduleFaultPending = reinterpret_cast<ModuleFaultPending>(dlsym(moduleHandle, "P11Script_FaultPending"));
        ASSERT_NE(nullptr, failModuleCall);
        ASSERT_NE(nullptr, moduleFaultPending);
    }
    static void TearDownTestSuite() {
        releaseModule();
        jnidouble::reset();
        dlclose(moduleHandle);
        std::remove(scriptPath.c_str());
    }

    // The module bound and initialised, as every native but the binding ones expects it.
    static void bindInitialised() {
        if (bridgeState.functionList == nullptr) {
            CK_FUNCTION_LIST_PTR list = nullptr;
            ASSERT_EQ(CKR_OK, bindModule(SCRIPT_MODULE, &list));
        }
        if (!bridgeState.moduleInitialized) {
            ASSERT_EQ(CKR_OK, bridgeInitialize());
        }
    }

    static void plan(Fault fault, int k) {
        jnidouble::failCall(fault == Fault::JniCall ? k : 0);
        failAllocation(fault == Fault::Allocation ? static_cast<unsigned long>(k) : 0);
        failModuleCall(fault == Fault::ModuleCall ? static_cast<CK_ULONG>(k) : 0, CKR_DEVICE_ERROR);
    }
    static bool stillPlanned(Fault fault) {
        switch (fault) {
            case Fault::JniCall: return jnidouble::callFaultPending();
            case Fault::Allocation: return allocationFaultPending();
            case Fault::ModuleCall: return moduleFaultPending() == CK_TRUE;
            default: return false;
        }
    }

    // One run of the native with the fault planned at k; true when the fault was reached.
    static bool run(const Native& native, Fault fault, int k, bool holdHeap) {
        std::string where =
            std::string(native.name) + " with the " + faultNames[int(fault)] + " fault at " + std::to_string(k) + ": ";
        bindInitialised();
        native.prepare();
        JNIEnv* env = jnidouble::reset();
        size_t heapBefore = liveHeapBytes();
        Peers peers{env, jnidouble::newInstance(BRIDGE_CLASS_MODULE, "unused", 0), nullptr, nullptr, nullptr};
        peers.slot = jnidouble::newInstance(BRIDGE_CLASS_SLOT, "slotID", 1, "module", peers.module);
        peers.session = jnidouble::newInstance(BRIDGE_CLASS_SESSION, "sessionID", 7, "slot", peers.slot);
        peers.object = jnidouble::newInstance(BRIDGE_CLASS_OBJECT, "objectID", 5, "session", peers.session);
        plan(fault, k);
        jnidouble::beginNative();
        Answer answer = native.call(peers);
        bool reached = fault != Fault::None && !stillPlanned(fault);
        plan(Fault::None, 0);

        jnidouble::checkAllReleased();
        EXPECT_EQ(std::vector<std::string>(), jnidouble::problems) << where << "JNI misused";
        EXPECT_LE(jnidouble::peakLocalRefs(), 16) << where << "local references pile up";
        bool pending = !jnidouble::pendingClass().empty();
        lastPending = jnidouble::pendingClass();
        lastAnswer = answer;
        EXPECT_FALSE(pending && answer == Answer::Value)
            << where << "a result with " << jnidouble::pendingClass() << " pending";
        EXPECT_FALSE(!pending && answer == Answer::Null && !native.nullIsAnAnswer)
            << where << "null without an exception";
        // A failure reaches the caller, except where a native is specified to pass over it.
        if (reached && (fault == Fault::JniCall || k > native.moduleFailuresPassedOver)) {
            EXPECT_TRUE(pending) << where << "the failure is lost";
        }
        // What the plain run answers shows how deep the sweeps go.
        if (fault == Fault::None && pending)
            std::printf("%s answers %s %s without a fault\n", native.name, jnidouble::pendingClass().c_str(),
                        jnidouble::pendingDetail().c_str());

        releaseLookups(env);
        EXPECT_EQ(0, jnidouble::liveWeakGlobalRefs()) << where << "weak global references kept";
        jnidouble::collect(0);
        jnidouble::forgetRecords();
        if (heapBefore != 0 && holdHeap) {
            EXPECT_EQ(heapBefore, liveHeapBytes()) << where << "heap bytes left behind";
        }
        return reached;
    }
    static std::string lastPending;
    static Answer lastAnswer;
    static void* moduleHandle;
    static FailModuleCall failModuleCall;
    static ModuleFaultPending moduleFaultPending;
};

std::string BridgeFaults::lastPending;
Answer BridgeFaults::lastAnswer = Answer::Nothing;
void* BridgeFaults::moduleHandle = nullptr;
FailModuleCall BridgeFaults::failModuleCall = nullptr;
ModuleFaultPending BridgeFaults::moduleFaultPending = nullptr;

TEST_P(BridgeFaults, EveryFailureInTurnIsAnsweredCleanly) {
    const Native& native = GetParam();
    run(native, Fault::None, 0, false);
    for (Fault fault : {Fault::JniCall, Fault::Allocation, Fault::ModuleCall}) {
        // Each case runs twice and is held to its second run: a first failure can make the
        // double learn a name (an exception's constructor, say) that stays.
        int k = 1;
        while (run(native, fault, k, false) && run(native, fault, k, true) && k < 500) k++;
        std::printf("%s: %d %s faults reached\n", native.name, k - 1, faultNames[int(fault)]);
        if (::testing::Test::HasFailure()) return;
    }
}

// The faults the sweeps found, each pinned at its k with the answer it must give now.
TEST_F(BridgeFaults, FoundFaultsStayMended) {
    struct Found {
        const char* native;
        Fault fault;
        int k;
        const char* pending;
    };
    const Found found[] = {
        // A token text the JVM could not make was cleared into a null field or a null serial.
        {"getTokenSN", Fault::JniCall, 4, "java/lang/OutOfMemoryError"},
        {"getTokenInfo", Fault::JniCall, 9, "java/lang/OutOfMemoryError"},
        {"Slot.getInfo", Fault::JniCall, 7, "java/lang/OutOfMemoryError"},
        {"getInfo", Fault::JniCall, 4, "java/lang/OutOfMemoryError"},
    };
    std::vector<Native> all = natives();
    for (const Found& f : found) {
        SCOPED_TRACE(f.native);
        const Native* native = findNative(all, f.native);
        ASSERT_NE(nullptr, native);
        run(*native, f.fault, f.k, false);
        EXPECT_TRUE(run(*native, f.fault, f.k, true));
        EXPECT_EQ(f.pending, lastPending);
        EXPECT_EQ(Answer::Null, lastAnswer);
    }
}

void PrintTo(const Native& native, std::ostream* out) { *out << native.name; }

INSTANTIATE_TEST_SUITE_P(Natives, BridgeFaults, ::testing::ValuesIn(natives()),
                         [](const ::testing::TestParamInfo<Native>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
