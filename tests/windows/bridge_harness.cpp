// Drives p11bridge.dll without a Java runtime: the module natives are called through their
// exports with our JNI double, one step per argument, and each outcome is printed as a line.
// Usage: bridge_harness <p11bridge.dll> <module path> step...
// Steps: load, init, info, slots (token present), allslots, final, and the library entry points
// onload and onunload (which reports the weak references the bridge still holds).
#include <windows.h>

#include "symbol.h"

#include <cstdio>
#include <cstring>
#include <string>

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

template <typename Function>
Function native(HMODULE bridge, const char* method) {
    std::string name = std::string(kNativePrefix) + method;
    auto entry = exportedFunction<Function>(bridge, name.c_str());
    if (entry == nullptr) std::printf("missing export %s\n", name.c_str());
    return entry;
}

// The outcome of one native: its pending exception, else the result the step printed.
void finishStep(const char* step, const std::string& result) {
    JNIEnv* env = jnidouble::env();
    if (jnidouble::pendingException() != nullptr) {
        jthrowable exception = env->ExceptionOccurred();
        std::printf("%s: exception %s\n", step, jnidouble::describe(exception).c_str());
        env->ExceptionClear();
    } else {
        std::printf("%s: %s\n", step, result.c_str());
    }
    for (const std::string& problem : jnidouble::problems) std::printf("problem: %s\n", problem.c_str());
    jnidouble::problems.clear();
    jnidouble::beginNative();  // the JVM frees a native's local references when it returns
    std::fflush(stdout);
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
            result = list != 0 ? "function list" : "no function list";
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
        } else if (step == "onload") {
            auto onLoad = exportedFunction<OnLoadFn>(bridge, "JNI_OnLoad");
            if (onLoad == nullptr) return 1;
            result = "version " + std::to_string(onLoad(jnidouble::vm(), nullptr));
        } else if (step == "onunload") {
            auto onUnload = exportedFunction<OnUnloadFn>(bridge, "JNI_OnUnload");
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
