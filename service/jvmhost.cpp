// Hosting the process's one Java virtual machine: configuration file, creation, per-call
// attach and detach.
#include <cstring>
#include <string>
#include <vector>

#include "dynlib.h"
#include "fileops.h"
#include "files.h"
#include "tavo2.h"

JavaVM* jvm = nullptr;

namespace {

using CreateJavaVMFn = jint(JNICALL*)(JavaVM** vm, void** env, void* args);

void endConfigLine(ConfigScanner& scanner) {
    if (!scanner.current.empty() && scanner.lines.size() < kMaxConfigLines) scanner.lines.push_back(scanner.current);
    scanner.current.clear();
}

void appendConfigByte(ConfigScanner& scanner, char byte) {
    if (scanner.lines.size() >= kMaxConfigLines) return;
    if (scanner.current.size() < kMaxConfigLineBytes) {
        scanner.current.push_back(byte);
        return;
    }
    int lineNumber = static_cast<int>(scanner.lines.size());
    if (scanner.truncatedLines.empty() || scanner.truncatedLines.back() != lineNumber)
        scanner.truncatedLines.push_back(lineNumber);
}

// Tests whether the line carries the key anywhere; the value is always taken from the fixed
// position after a key at the start of the line.
const char* keyedValue(std::string& line, const char* key) {
    if (std::strstr(line.c_str(), key) == nullptr) return nullptr;
    return &line[std::strlen(key)];
}

}  // namespace

void scanConfigBytes(ConfigScanner& scanner, const char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        char byte = bytes[i];
        if (scanner.pendingCR) {
            scanner.pendingCR = false;
            if (byte == '\n') {
                endConfigLine(scanner);
                continue;
            }
            appendConfigByte(scanner, '\r');
        }
        if (byte == '\r') {
            scanner.pendingCR = true;
        } else if (byte == '\n') {
            endConfigLine(scanner);
        } else {
            appendConfigByte(scanner, byte);
        }
    }
}

void finishConfigScan(ConfigScanner& scanner) {
    if (scanner.pendingCR) appendConfigByte(scanner, '\r');
    scanner.pendingCR = false;
    endConfigLine(scanner);
}

bool getClassPath(std::vector<std::string>& lines) {
    writeLog(LOG_DEBUG, "getClassPath  invoked\n");
    platform::FileHandle file = platform::kNoFile;
    int error = platform::openCurrentDirectoryFile(kConfigFileName, &file);
    if (error != 0) {
        writeLog(LOG_ERROR, "impossibile aprire il file tavodll_classpath.conf (%d)\n", error);
        return false;
    }
    ConfigScanner scanner;
    char chunk[kMaxConfigLineBytes];
    for (bool first = true;; first = false) {
        size_t got = 0;
        if (platform::readFileChunk(file, chunk, sizeof chunk, &got) != 0) {
            platform::closeFile(file);
            writeLog(LOG_ERROR,
                     first ? "error reading tavodll_classpath.conf" : "error reading tavodll_classpath.conf\n");
            return false;
        }
        if (got == 0) break;
        scanConfigBytes(scanner, chunk, got);
    }
    finishConfigScan(scanner);
    platform::closeFile(file);
    for (int lineNumber : scanner.truncatedLines)
        writeLog(LOG_ERROR, "line %d of tavodll_classpath.conf longer than 4095 bytes: truncated\n", lineNumber);
    lines.swap(scanner.lines);
    return true;
}

void loadJVM() {
    writeLog(LOG_ERROR, "loadJVM invoked\n");
    std::vector<std::string> lines;
    if (!getClassPath(lines)) return;
    if (lines.empty()) {
        writeLog(LOG_ERROR, "tavodll_classpath.conf has no classpath line: JVM not started\n");
        return;
    }
    if (lines[0].size() > kMaxClassPathBytes) {
        writeLog(LOG_ERROR, "classpath of %d bytes exceeds the %d allowed: JVM not started\n",
                 static_cast<int>(lines[0].size()), static_cast<int>(kMaxClassPathBytes));
        return;
    }
    std::string classPathOption = "-Djava.class.path=" + lines[0];
    std::vector<JavaVMOption> options;
    options.push_back(JavaVMOption{&classPathOption[0], nullptr});
    const char* jvmDllPath = nullptr;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string& line = lines[i];
        writeLog(LOG_ERROR, "line %d = %s\n", static_cast<int>(i), line.c_str());
        if (const char* value = keyedValue(line, "jvmdllpath=")) {
            jvmDllPath = value;
            writeLog(LOG_DEBUG, "jvmdllpath= %s\n", value);
        }
        if (const char* value = keyedValue(line, "option=")) {
            options.push_back(JavaVMOption{const_cast<char*>(value), nullptr});
            writeLog(LOG_DEBUG, "option= %s\n", value);
        }
        if (const char* value = keyedValue(line, "jvm=")) writeLog(LOG_DEBUG, "jvmVersion= %s\n", value);
    }
    writeLog(LOG_DEBUG, "after options\n");
    writeLog(LOG_DEBUG, "before invoking the JVM with classpath %s\n", classPathOption.c_str());
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_2;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    args.ignoreUnrecognized = JNI_TRUE;
    writeLog(LOG_DEBUG, "before handling jvmDllPath\n");

    if (jvmDllPath == nullptr) {
        writeLog(LOG_DEBUG, "jvmDllPath is null");
        writeLog(LOG_ERROR, "java dll not loaded error_code:%d\n", platform::lastErrorCode());
        return;
    }
    writeLog(LOG_DEBUG, "loading jvm from filesystem %s\n", jvmDllPath);
    writeLog(LOG_DEBUG, "transforming dll path %s\n", jvmDllPath);
    // The narrow load converts from the system code page itself (LoadLibraryA on Windows).
    platform::LibraryHandle runtime = platform::loadLibrary(jvmDllPath);
    if (runtime == nullptr) {
        writeLog(LOG_ERROR, "java dll not loaded error_code:%d\n", platform::lastErrorCode());
        if (const char* why = platform::loadFailureText()) writeLog(LOG_ERROR, "java dll not loaded: %s\n", why);
        return;
    }
    writeLog(LOG_ERROR, "java dll loaded\n");
    auto createJavaVM = reinterpret_cast<CreateJavaVMFn>(platform::findSymbol(runtime, "JNI_CreateJavaVM"));
    if (createJavaVM == nullptr) {
        writeLog(LOG_ERROR, "no java VM load method - err code %d\n", platform::lastErrorCode());
        platform::releaseLibrary(runtime);
        return;
    }
    writeLog(LOG_DEBUG, "JVM invocata GetProcAddress\n");
    writeLog(LOG_DEBUG, "javaFuncPtr...\n");
    JavaVM* created = nullptr;
    void* scratchEnv = nullptr;
    jint result = createJavaVM(&created, &scratchEnv, &args);
    writeLog(LOG_DEBUG, "javaFuncPtr...invocata, result=%d\n", static_cast<int>(result));
    // Only a machine reported as created is kept; every other result is a failure.
    if (result != JNI_OK || created == nullptr) {
        writeLog(LOG_ERROR, "IMPOSSIBILE CARICARE JVM\n");
    } else {
        jvm = created;
        writeLog(LOG_DEBUG, "JVM CARICATA CON SUCCESSO\n");
    }
    writeLog(LOG_DEBUG, "JVM libero risorse classpath\n");
}

JNIEnv* getEnv() {
    writeLog(LOG_DEBUG, "getEnv...\n");
    if (jvm == nullptr) {
        writeLog(LOG_ERROR, "getEnv: JVM nulla\n");
        return nullptr;
    }
    JNIEnv* env = nullptr;
    jint result = jvm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    if (result != JNI_OK || env == nullptr) {
        writeLog(LOG_ERROR, "AttachCurrentThread ha fallito, result=%d\n", static_cast<int>(result));
        return nullptr;
    }
    return env;
}

void releaseAndDetach(JNIEnv* env, jobject object, jclass cls) {
    if (env != nullptr) {
        if (object != nullptr) env->DeleteLocalRef(object);
        if (cls != nullptr) env->DeleteLocalRef(cls);
    }
    if (jvm != nullptr) {
        jint result = jvm->DetachCurrentThread();
        if (result != JNI_OK) writeLog(LOG_ERROR, "DetachCurrentThread: Errore %d\n", static_cast<int>(result));
    }
}
