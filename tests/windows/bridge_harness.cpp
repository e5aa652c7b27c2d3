// Drives p11bridge.dll without a Java runtime: the module natives are called through their
// exports with our JNI double, one step per argument, and each outcome is printed as a line.
// Usage: bridge_harness <p11bridge.dll> <module path> step...
// Steps: load, init, info, slots (token present), allslots, final, the library entry points
// onload and onunload (which reports the weak references the bridge still holds), names (under
// which names the loader finds loadPKCS11Library), and
// families: every other native of the four peers once, each answer a line of "answers.txt"
// (standard output has the natives' own messages).
#include <windows.h>

#include "symbol.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "cryptoki.h"
#include "jni_double.h"

namespace {

using LoadFn = jlong(JNICALL*)(JNIEnv*, jobject, jstring);
using VoidFn = void(JNICALL*)(JNIEnv*, jobject);
using ObjectFn = jobject(JNICALL*)(JNIEnv*, jobject);
using SlotsFn = jobjectArray(JNICALL*)(JNIEnv*, jobject, jboolean);
using OnLoadFn = jint(JNICALL*)(JavaVM*, void*);
using OnUnloadFn = void(JNICALL*)(JavaVM*, void*);

const char kNativePrefix[] = "Java_it_vantrel_pkcs11_nat_NativePKCS11_";

bool bridgeClass(const char* name) {
    return std::strncmp(name, "it/vantrel/pkcs11/", 18) == 0 || std::strcmp(name, "java/lang/String") == 0;
}

// The peers' constructors are all there; the bridge calls no other Java method here.
bool constructorOnly(const char*, const char* name, const char*) { return std::strcmp(name, "<init>") == 0; }

void printJournal(const std::string& line) {
    if (line.rfind("unexpected", 0) == 0 || line.rfind("DeleteLocalRef", 0) == 0 || line.rfind("Throw", 0) == 0)
        std::printf("journal: %s\n", line.c_str());
}

void printUnexpected(const std::string& line) {
    if (line.rfind("unexpected", 0) == 0) std::printf("journal: %s\n", line.c_str());
}

template <typename Function>
Function native(HMODULE bridge, const char* method) {
    std::string name = std::string(kNativePrefix) + method;
    auto entry = jniExport<Function>(bridge, name);
    if (entry == nullptr) std::printf("missing export %s\n", name.c_str());
    return entry;
}

// Calls a native of the peer `self` through its export, the JNI double as its environment:
// NativeCall<Result(Arguments...)>::run(bridge, "NativePKCS11Slot_getInfo", self, arguments...).
template <typename Signature>
struct NativeCall;
template <typename Result, typename... Arguments>
struct NativeCall<Result(Arguments...)> {
    static std::string run(HMODULE bridge, const char* method, jobject self, Arguments... arguments) {
        using Function = Result(JNICALL*)(JNIEnv*, jobject, Arguments...);
        auto entry = jniExport<Function>(bridge, std::string("Java_it_vantrel_pkcs11_nat_") + method);
        if (entry == nullptr) return "missing export";
        JNIEnv* env = jnidouble::env();
        if constexpr (std::is_void_v<Result>) {
            entry(env, self, arguments...);
            return "ok";
        } else if constexpr (std::is_pointer_v<Result>) {
            return jnidouble::describe(entry(env, self, arguments...));
        } else {
            return std::to_string(static_cast<long long>(entry(env, self, arguments...)));
        }
    }
};

jstring text(const char* ascii) { return jnidouble::newStringUtf(ascii); }
jbyteArray bytes(size_t length) { return jnidouble::newByteArray(std::vector<jbyte>(length, 0x5a)); }

// A template with one attribute of every value kind the bridge converts.
struct Template {
    jintArray types;
    jobjectArray values;
};
Template everyKind() {
    std::vector<jint> types = {3, 17, 0, 1, 288, 272};
    std::vector<jobject> values = {
        text("label"),
        bytes(3),
        jnidouble::newInstance("java/lang/Integer", "value", 3),
        jnidouble::newInstance("java/lang/Boolean", "value", 1),
        jnidouble::newInstance("java/math/BigInteger", "unused", 0, "arg", bytes(4)),
        jnidouble::newInstance("java/util/Date", "unused", 0),
    };
    return {jnidouble::newIntArray(types), jnidouble::newObjectArray(values)};
}

void finishStep(const char* step, const std::string& result);
// Where the steps' answers go.
FILE* answers = stdout;

struct Peers {
    jobject module, slot, session, object;
};

// Every native family but the module's own steps above: slot, session, login, search,
// creation, operations, keys, the card vendor's natives, objects and their attributes, and
// the natives that refuse whatever they are given. The module is loaded and initialised.
void families(HMODULE bridge, jobject module) {
    const jint rsaPkcs = 1, aesKeyGen = 0x1080, rsaKeyPairGen = 0;
    jobject slot = jnidouble::newInstance("it/vantrel/pkcs11/nat/NativePKCS11Slot", "slotID", 1, "module", module);
    jobject session = jnidouble::newInstance("it/vantrel/pkcs11/nat/NativePKCS11Session", "sessionID", 7, "slot", slot);
    jobject object =
        jnidouble::newInstance("it/vantrel/pkcs11/nat/NativePKCS11Object", "objectID", 5, "session", session);
    struct Step {
        const char* name;
        std::string (*call)(HMODULE, const Peers&);
    };
#define STEP(name, ...)                                                    \
    {                                                                      \
        name, [](HMODULE b, const Peers& peers) {                          \
            [[maybe_unused]] auto [module, slot, session, object] = peers; \
            return __VA_ARGS__;                                            \
        }                                                                  \
    }
    const Step steps[] = {
        STEP("getBridgeVersion", NativeCall<jstring()>::run(b, "NativePKCS11_getBridgeVersion", module)),
        STEP("getRSAcredential", NativeCall<jobjectArray(jstring, jint, jstring)>::run(
                                     b, "NativePKCS11_getRSAcredential", module, text("alias"), 0, text("1234"))),
        STEP("Slot.getInfo", NativeCall<jobject()>::run(b, "NativePKCS11Slot_getInfo", slot)),
        STEP("getTokenInfo", NativeCall<jobject()>::run(b, "NativePKCS11Slot_getTokenInfo", slot)),
        STEP("getTokenSN", NativeCall<jstring()>::run(b, "NativePKCS11Slot_getTokenSN", slot)),
        STEP("getMechanismList", NativeCall<jintArray()>::run(b, "NativePKCS11Slot_getMechanismList", slot)),
        STEP("getMechanismInfo", NativeCall<jobject(jint)>::run(b, "NativePKCS11Slot_getMechanismInfo", slot, rsaPkcs)),
        STEP("openSession", NativeCall<jobject(jint, jobject, jobject)>::run(b, "NativePKCS11Slot_openSession", slot, 6,
                                                                             nullptr, nullptr)),
        STEP("Session.getInfo", NativeCall<jobject()>::run(b, "NativePKCS11Session_getInfo", session)),
        STEP("login",
             NativeCall<void(jboolean, jstring)>::run(b, "NativePKCS11Session_login", session, 0, text("1234"))),
        STEP("loginAuthPath", NativeCall<void(jboolean)>::run(b, "NativePKCS11Session_loginAuthPath", session, 1)),
        STEP("initPIN", NativeCall<void(jstring)>::run(b, "NativePKCS11Session_initPIN", session, text("1234"))),
        STEP("setPIN", NativeCall<void(jstring, jstring)>::run(b, "NativePKCS11Session_setPIN", session, text("1234"),
                                                               text("5678"))),
        STEP("findObjectsInit",
             NativeCall<void(jintArray, jobjectArray)>::run(b, "NativePKCS11Session_findObjectsInit", session,
                                                            everyKind().types, everyKind().values)),
        STEP("findObject", NativeCall<jobject()>::run(b, "NativePKCS11Session_findObject", session)),
        STEP("findObjectsFinal", NativeCall<void()>::run(b, "NativePKCS11Session_findObjectsFinal", session)),
        STEP("createObject",
             NativeCall<jobject(jintArray, jobjectArray)>::run(b, "NativePKCS11Session_createObject", session,
                                                               everyKind().types, everyKind().values)),
        STEP("installCertificate",
             NativeCall<void(jint, jint, jbyteArray, jint, jint, jstring, jstring, jstring, jstring)>::run(
                 b, "NativePKCS11Session_installCertificate", session, 1, 0, bytes(300), 0, 300, text("CN=Subject"),
                 text("0102"), text("CN=Issuer"), text("label"))),
        STEP("signInit", NativeCall<void(jint, jobject, jobject)>::run(b, "NativePKCS11Session_signInit", session,
                                                                       rsaPkcs, bytes(8), object)),
        STEP("sign", NativeCall<jint(jbyteArray, jint, jint, jbyteArray, jint)>::run(
                         b, "NativePKCS11Session_sign", session, bytes(20), 0, 20, bytes(600), 0)),
        STEP("encryptInit", NativeCall<void(jint, jobject, jobject)>::run(b, "NativePKCS11Session_encryptInit", session,
                                                                          rsaPkcs, nullptr, object)),
        STEP("encrypt", NativeCall<jint(jbyteArray, jint, jint, jbyteArray, jint)>::run(
                            b, "NativePKCS11Session_encrypt", session, bytes(16), 0, 16, bytes(600), 0)),
        STEP("decryptInit", NativeCall<void(jint, jobject, jobject)>::run(b, "NativePKCS11Session_decryptInit", session,
                                                                          rsaPkcs, nullptr, object)),
        STEP("decrypt", NativeCall<jint(jbyteArray, jint, jint, jbyteArray, jint)>::run(
                            b, "NativePKCS11Session_decrypt", session, bytes(600), 0, 600, bytes(600), 0)),
        STEP("generateKeyPair",
             NativeCall<jobjectArray(jint, jobject, jintArray, jobjectArray, jintArray, jobjectArray)>::run(
                 b, "NativePKCS11Session_generateKeyPair", session, rsaKeyPairGen, nullptr, everyKind().types,
                 everyKind().values, everyKind().types, everyKind().values)),
        STEP("generateKeyPairOB", NativeCall<jobjectArray(jint, jboolean)>::run(
                                      b, "NativePKCS11Session_generateKeyPairOB", session, rsaKeyPairGen, 1)),
        STEP("generateKey", NativeCall<jobject(jint, jobject, jintArray, jobjectArray)>::run(
                                b, "NativePKCS11Session_generateKey", session, aesKeyGen, nullptr, everyKind().types,
                                everyKind().values)),
        STEP("wrapKey",
             NativeCall<jint(jint, jobject, jobject, jobject, jbyteArray, jint)>::run(
                 b, "NativePKCS11Session_wrapKey", session, rsaPkcs, nullptr, object, object, bytes(600), 0)),
        STEP("unwrapKey",
             NativeCall<jobject(jint, jobject, jobject, jbyteArray, jint, jint, jintArray, jobjectArray)>::run(
                 b, "NativePKCS11Session_unwrapKey", session, rsaPkcs, nullptr, object, bytes(600), 0, 600,
                 everyKind().types, everyKind().values)),
        STEP("getIdentrusObject", NativeCall<jobject()>::run(b, "NativePKCS11Session_getIdentrusObject", session)),
        STEP("getCardStatus", NativeCall<jint()>::run(b, "NativePKCS11Session_getCardStatus", session)),
        STEP("setCardStatus", NativeCall<void(jint)>::run(b, "NativePKCS11Session_setCardStatus", session, 1)),
        STEP("logintirvex",
             NativeCall<void(jboolean, jbyteArray)>::run(b, "NativePKCS11Session_logintirvex", session, 0, bytes(4))),
        STEP("setPINtirvex", NativeCall<void(jbyteArray, jbyteArray)>::run(b, "NativePKCS11Session_setPINtirvex",
                                                                           session, bytes(4), bytes(6))),
        STEP("getBoolAttributeValue",
             NativeCall<jboolean(jint)>::run(b, "NativePKCS11Object_getBoolAttributeValue", object, 1)),
        STEP("getIntAttributeValue",
             NativeCall<jint(jint)>::run(b, "NativePKCS11Object_getIntAttributeValue", object, 0)),
        STEP("getStringAttributeValue",
             NativeCall<jstring(jint)>::run(b, "NativePKCS11Object_getStringAttributeValue", object, 3)),
        STEP("getByteArrayAttributeValue",
             NativeCall<jbyteArray(jint)>::run(b, "NativePKCS11Object_getByteArrayAttributeValue", object, 17)),
        STEP("getBigIntegerAttributeValue",
             NativeCall<jobject(jint)>::run(b, "NativePKCS11Object_getBigIntegerAttributeValue", object, 288)),
        STEP("getDateAttributeValue",
             NativeCall<jobject(jint)>::run(b, "NativePKCS11Object_getDateAttributeValue", object, 272)),
        STEP("getAttributeValue", NativeCall<jobject(jint)>::run(b, "NativePKCS11Object_getAttributeValue", object, 0)),
        STEP("size", NativeCall<jint()>::run(b, "NativePKCS11Object_size", object)),
        STEP("setAttributeValue",
             NativeCall<void(jint, jobject)>::run(b, "NativePKCS11Object_setAttributeValue", object, 3, text("label"))),
        STEP("setAttributeValues",
             NativeCall<void(jintArray, jobjectArray)>::run(b, "NativePKCS11Object_setAttributeValues", object,
                                                            everyKind().types, everyKind().values)),
        STEP("setBoolAttributeValue",
             NativeCall<void(jint, jboolean)>::run(b, "NativePKCS11Object_setBoolAttributeValue", object, 1, 1)),
        STEP("setIntAttributeValue",
             NativeCall<void(jint, jint)>::run(b, "NativePKCS11Object_setIntAttributeValue", object, 0, 3)),
        STEP("destroy", NativeCall<void()>::run(b, "NativePKCS11Object_destroy", object)),
        STEP("digestInit",
             NativeCall<void(jint, jobject)>::run(b, "NativePKCS11Session_digestInit", session, 0, nullptr)),
        STEP("verify", NativeCall<jboolean(jbyteArray, jint, jint, jbyteArray, jint, jint)>::run(
                           b, "NativePKCS11Session_verify", session, bytes(4), 0, 4, bytes(4), 0, 4)),
        STEP("waitForSlotEvent", NativeCall<jint(jint)>::run(b, "NativePKCS11_waitForSlotEvent", module, 0)),
        STEP("copy", NativeCall<jobject(jintArray, jobjectArray)>::run(b, "NativePKCS11Object_copy", object,
                                                                       everyKind().types, everyKind().values)),
        STEP("initToken",
             NativeCall<void(jstring, jstring)>::run(b, "NativePKCS11Slot_initToken", slot, text("1234"), text("t"))),
        STEP("logout", NativeCall<void()>::run(b, "NativePKCS11Session_logout", session)),
        STEP("close", NativeCall<void()>::run(b, "NativePKCS11Session_close", session)),
        STEP("closeAllSessions", NativeCall<void()>::run(b, "NativePKCS11Slot_closeAllSessions", slot)),
    };
#undef STEP
    const Peers peers{module, slot, session, object};
    answers = std::fopen("answers.txt", "w");
    if (answers == nullptr) answers = stdout;
    for (const Step& step : steps) finishStep(step.name, step.call(bridge, peers));
    if (answers != stdout) std::fclose(answers);
    answers = stdout;
}

// The module's function list as Java is handed it: the address as a signed pointer-sized
// integer, so sign-extended on win32 and the full pointer on win64.
jlong moduleFunctionList(const char* path) {
    HMODULE module = GetModuleHandleA(path);
    auto getFunctionList =
        module != nullptr ? exportedFunction<CK_C_GetFunctionList>(module, "C_GetFunctionList") : nullptr;
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (getFunctionList == nullptr || getFunctionList(&list) != CKR_OK) return -1;
    return static_cast<jlong>(reinterpret_cast<intptr_t>(list));
}

// The outcome of one native: its pending exception, else the result the step printed.
void finishStep(const char* step, const std::string& result) {
    JNIEnv* env = jnidouble::env();
    if (jnidouble::pendingException() != nullptr) {
        jthrowable exception = env->ExceptionOccurred();
        std::fprintf(answers, "%s: exception %s\n", step, jnidouble::describe(exception).c_str());
        env->ExceptionClear();
    } else {
        std::fprintf(answers, "%s: %s\n", step, result.c_str());
    }
    for (const std::string& problem : jnidouble::problems) std::fprintf(answers, "problem: %s\n", problem.c_str());
    jnidouble::problems.clear();
    jnidouble::beginNative();  // the JVM frees a native's local references when it returns
    std::fflush(answers);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bridge_harness <p11bridge.dll> <module> step...\n");
        return 2;
    }
    jnidouble::Behaviour behaviour;
    behaviour.classExists = bridgeClass;
    behaviour.methodExists = constructorOnly;
    behaviour.journal = printJournal;
    jnidouble::install(behaviour);
    JNIEnv* env = jnidouble::reset();

    HMODULE bridge = LoadLibraryA(argv[1]);
    if (bridge == nullptr) {
        std::printf("LoadLibrary %s failed: %lu\n", argv[1], GetLastError());
        return 1;
    }
    jclass moduleClass = env->FindClass("it/vantrel/pkcs11/nat/NativePKCS11");
    jobject self = env->NewObject(moduleClass, env->GetMethodID(moduleClass, "<init>", "()V"));

    for (int i = 3; i < argc; ++i) {
        std::string step = argv[i];
        std::string result = "ok";
        if (step == "load") {
            auto load = native<LoadFn>(bridge, "loadPKCS11Library");
            if (load == nullptr) return 1;
            jlong list = load(env, self, jnidouble::newStringUtf(argv[2]));
            result = list == 0                             ? "no function list"
                     : list == moduleFunctionList(argv[2]) ? "function list"
                                                           : "function list elsewhere";
        } else if (step == "init" || step == "final") {
            auto call = native<VoidFn>(bridge, step == "init" ? "libInitialize" : "libFinalize");
            if (call == nullptr) return 1;
            call(env, self);
        } else if (step == "info") {
            auto getInfo = native<ObjectFn>(bridge, "getInfo");
            if (getInfo == nullptr) return 1;
            result = jnidouble::describe(getInfo(env, self));
        } else if (step == "slots" || step == "allslots") {
            auto getSlotList = native<SlotsFn>(bridge, "getSlotList");
            if (getSlotList == nullptr) return 1;
            result = jnidouble::describe(getSlotList(env, self, step == "slots" ? JNI_TRUE : JNI_FALSE));
        } else if (step == "families") {
            // These natives use Java's value classes and their methods, and release much.
            behaviour.classExists = nullptr;
            behaviour.methodExists = nullptr;
            behaviour.journal = printUnexpected;
            jnidouble::install(behaviour);
            families(bridge, self);
            continue;
        } else if (step == "names") {
            // Under which names the loader finds a native: plain, decorated (_name@12).
            std::string plain = std::string(kNativePrefix) + "loadPKCS11Library";
            bool plainFound = exportedFunction<LoadFn>(bridge, plain.c_str()) != nullptr;
            bool decoratedFound = exportedFunction<LoadFn>(bridge, ("_" + plain + "@12").c_str()) != nullptr;
            result = std::string("plain ") + (plainFound ? "found" : "absent") + ", decorated " +
                     (decoratedFound ? "found" : "absent");
        } else if (step == "onload") {
            auto onLoad = jniExport<OnLoadFn>(bridge, "JNI_OnLoad");
            if (onLoad == nullptr) return 1;
            result = "version " + std::to_string(onLoad(jnidouble::vm(), nullptr));
        } else if (step == "onunload") {
            auto onUnload = jniExport<OnUnloadFn>(bridge, "JNI_OnUnload");
            if (onUnload == nullptr) return 1;
            int held = jnidouble::liveWeakGlobalRefs();
            onUnload(jnidouble::vm(), nullptr);
            result =
                std::to_string(held) + " weak references, " + std::to_string(jnidouble::liveWeakGlobalRefs()) + " left";
        } else {
            std::printf("unknown step %s\n", step.c_str());
            return 2;
        }
        finishStep(step.c_str(), result);
    }
    return 0;
}
