// A Java runtime library of our own, for the service client's fault driver and its Windows
// runs under Wine: it exports JNI_CreateJavaVM and plays tavo/client/SendServiceProxy as the file
// "fakejvm_script.txt" in the current directory says ("key value" lines, read afresh at every
// call):
//   create <n>                 JNI_CreateJavaVM's result (default 0)
//   attach <n>                 AttachCurrentThread's result (default 0)
//   missing.class 1            FindClass of the proxy fails
//   missing.<method> 1         the proxy lacks that method
//   startTavo true|false|throw
//   stopTavo ok|throw
//   checkTransport / getVersionePorta <text>|null|throw|build   (build: "build=" and the
//                              TAVO2_BUILD mark a marked service client build sets, or "ordinary")
//   getRideConfig <n>|throw
//   sendMessageS / sendMessageA <xml>|null|throw   (the reply's XML; its status is OK, error 0)
// Every call is appended to "fakejvm_journal.txt" unless the script says "journal 0".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

// JNI_CreateJavaVM is defined here, not imported.
#define _JNI_IMPLEMENTATION_
#include "jni_double.h"
#include "key_values.h"

namespace {

const char kProxyClass[] = "tavo/client/SendServiceProxy";
const char kResponseClass[] = "tavo/client/TavoClientResponse";
const char kSendSignature[] =
    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ltavo/client/ITavoClientResponse;";

std::string scripted(const std::string& key, const char* fallback) {
    std::map<std::string, std::string> values = readKeyValues("fakejvm_script.txt");
    auto found = values.find(key);
    return found != values.end() ? found->second : fallback;
}

void appendJournal(const std::string& line) {
    if (scripted("journal", "1") == "0") return;
    FILE* file = std::fopen("fakejvm_journal.txt", "ab");
    if (file == nullptr) return;
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
}

bool classExists(const char* name) {
    if (std::strcmp(name, kProxyClass) == 0) return scripted("missing.class", "0") != "1";
    return std::strcmp(name, kResponseClass) == 0;
}

// The proxy's contract; everything else is unknown.
bool methodExists(const char* className, const char* name, const char* signature) {
    static const std::map<std::string, std::string> proxy = {
        {"<init>", "()V"},
        {"startTavo", "()Z"},
        {"stopTavo", "()V"},
        {"checkTransport", "()Ljava/lang/String;"},
        {"getVersionePorta", "()Ljava/lang/String;"},
        {"getRideConfig", "()I"},
        {"sendMessageS", kSendSignature},
        {"sendMessageA", kSendSignature},
    };
    static const std::map<std::string, std::string> response = {
        {"isStatusOk", "()Z"},
        {"getErrorNumber", "()I"},
        {"getXMLMessage", "()Ljava/lang/String;"},
    };
    if (std::strcmp(className, kResponseClass) == 0) {
        auto found = response.find(name);
        return found != response.end() && found->second == signature;
    }
    if (std::strcmp(className, kProxyClass) != 0) return false;
    auto found = proxy.find(name);
    if (found == proxy.end() || found->second != signature) return false;
    return scripted(std::string("missing.") + name, "0") != "1";
}

jvalue invoke(jobject, const jnidouble::Method& method, const std::vector<jvalue>&) {
    jvalue result;
    std::memset(&result, 0, sizeof result);
    if (method.className == kResponseClass) {
        if (method.name == "isStatusOk") result.z = JNI_TRUE;
        if (method.name == "getXMLMessage") result.l = jnidouble::newStringUtf("<reply/>");
        return result;
    }
    const char* fallback = method.name == "startTavo" ? "true" : method.name == "getRideConfig" ? "0" : "ok";
    std::string answer = scripted(method.name, fallback);
    if (answer == "throw") {
        jnidouble::throwNew("java/lang/IllegalStateException", method.name.c_str());
    } else if (method.name == "sendMessageS" || method.name == "sendMessageA") {
        if (answer != "null") result.l = jnidouble::newInstance(kResponseClass, "unused", 0);
    } else if (method.name == "startTavo") {
        result.z = answer == "true" ? JNI_TRUE : JNI_FALSE;
    } else if (method.name == "getRideConfig") {
        result.i = static_cast<jint>(std::strtol(answer.c_str(), nullptr, 0));
    } else if (answer == "build") {
        const char* mark = std::getenv("TAVO2_BUILD");
        result.l = jnidouble::newStringUtf(std::string("build=") + (mark != nullptr ? mark : "ordinary"));
    } else if (method.signature == "()Ljava/lang/String;") {
        result.l = answer == "null" ? nullptr : jnidouble::newStringUtf(answer);
    }
    return result;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* argument) {
    jnidouble::Behaviour behaviour;
    behaviour.classExists = classExists;
    behaviour.methodExists = methodExists;
    behaviour.invoke = invoke;
    behaviour.journal = appendJournal;
    jnidouble::install(behaviour);
    const JavaVMInitArgs* args = static_cast<const JavaVMInitArgs*>(argument);
    jnidouble::journalf("JNI_CreateJavaVM version=0x%x options=%d ignoreUnrecognized=%d", args->version, args->nOptions,
                        args->ignoreUnrecognized);
    for (jint i = 0; i < args->nOptions; ++i)
        jnidouble::journalf("option %s extra=%s", args->options[i].optionString,
                            args->options[i].extraInfo != nullptr ? "set" : "null");
    jint result = static_cast<jint>(std::strtol(scripted("create", "0").c_str(), nullptr, 0));
    if (result != JNI_OK) return result;
    jnidouble::setAttachResult(static_cast<jint>(std::strtol(scripted("attach", "0").c_str(), nullptr, 0)));
    *vm = jnidouble::vm();
    *env = jnidouble::env();
    return JNI_OK;
}
