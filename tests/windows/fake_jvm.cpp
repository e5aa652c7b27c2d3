// A Java runtime library of our own for the Windows service chain under Wine: it exports
// JNI_CreateJavaVM and plays tavo/client/SendServiceProxy as the file "fakejvm_script.txt" in
// the current directory says ("key value" lines, read afresh at every call):
//   create <n>                 JNI_CreateJavaVM's result (default 0)
//   attach <n>                 AttachCurrentThread's result (default 0)
//   missing.class 1            FindClass of the proxy fails
//   missing.<method> 1         the proxy lacks that method
//   startTavo true|false|throw
//   stopTavo ok|throw
//   checkTransport / getVersionePorta <text>|null|throw|build   (build: "build=" and the
//                              TAVO2_BUILD mark a marked service client build sets, or "ordinary")
//   getRideConfig <n>|throw
// Every call is appended to "fakejvm_journal.txt" so the run can be checked afterwards.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

// JNI_CreateJavaVM is defined here, not imported.
#define _JNI_IMPLEMENTATION_
#include "fake_jni.h"

namespace {

const char kProxyClass[] = "tavo/client/SendServiceProxy";

std::map<std::string, std::string> readScript() {
    std::map<std::string, std::string> values;
    FILE* file = std::fopen("fakejvm_script.txt", "rb");
    if (file == nullptr) return values;
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string entry(line);
        while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
        size_t space = entry.find(' ');
        if (space == std::string::npos)
            values[entry] = "";
        else
            values[entry.substr(0, space)] = entry.substr(space + 1);
    }
    std::fclose(file);
    return values;
}

std::string scripted(const std::string& key, const char* fallback) {
    std::map<std::string, std::string> values = readScript();
    auto found = values.find(key);
    return found != values.end() ? found->second : fallback;
}

void appendJournal(const std::string& line) {
    FILE* file = std::fopen("fakejvm_journal.txt", "ab");
    if (file == nullptr) return;
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
}

bool classExists(const char* name) {
    if (std::strcmp(name, kProxyClass) == 0) return scripted("missing.class", "0") != "1";
    return std::strcmp(name, "tavo/client/TavoClientResponse") == 0;
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
    };
    if (std::strcmp(className, kProxyClass) != 0) return false;
    auto found = proxy.find(name);
    if (found == proxy.end() || found->second != signature) return false;
    return scripted(std::string("missing.") + name, "0") != "1";
}

jvalue invoke(fakejni::Ref*, const fakejni::Method& method, const std::vector<jvalue>&) {
    jvalue result;
    std::memset(&result, 0, sizeof result);
    const char* fallback = method.name == "startTavo" ? "true" : method.name == "getRideConfig" ? "0" : "ok";
    std::string answer = scripted(method.name, fallback);
    if (answer == "throw") {
        fakejni::throwNew("java/lang/IllegalStateException", method.name.c_str());
    } else if (method.name == "startTavo") {
        result.z = answer == "true" ? JNI_TRUE : JNI_FALSE;
    } else if (method.name == "getRideConfig") {
        result.i = static_cast<jint>(std::strtol(answer.c_str(), nullptr, 0));
    } else if (answer == "build") {
        char mark[32];
        DWORD length = GetEnvironmentVariableA("TAVO2_BUILD", mark, sizeof mark);
        result.l = fakejni::newString(std::string("build=") + (length > 0 && length < sizeof mark ? mark : "ordinary"));
    } else if (method.signature == "()Ljava/lang/String;") {
        result.l = answer == "null" ? nullptr : fakejni::newString(answer);
    }
    return result;
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* argument) {
    fakejni::Behaviour behaviour;
    behaviour.classExists = classExists;
    behaviour.methodExists = methodExists;
    behaviour.invoke = invoke;
    behaviour.journal = appendJournal;
    fakejni::install(behaviour);
    const JavaVMInitArgs* args = static_cast<const JavaVMInitArgs*>(argument);
    fakejni::journalf("JNI_CreateJavaVM version=0x%x options=%d ignoreUnrecognized=%d", args->version, args->nOptions,
                      args->ignoreUnrecognized);
    for (jint i = 0; i < args->nOptions; ++i)
        fakejni::journalf("option %s extra=%s", args->options[i].optionString,
                          args->options[i].extraInfo != nullptr ? "set" : "null");
    jint result = static_cast<jint>(std::strtol(scripted("create", "0").c_str(), nullptr, 0));
    if (result != JNI_OK) return result;
    fakejni::setAttachResult(static_cast<jint>(std::strtol(scripted("attach", "0").c_str(), nullptr, 0)));
    *vm = fakejni::vm();
    *env = fakejni::env();
    return JNI_OK;
}
