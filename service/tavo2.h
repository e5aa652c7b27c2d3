// Internals of tavo2 shared by its log, JVM host, proxy calls and code generator.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log.h"

// tavo2's daily log ("tavodll_YYYY-MM-DD.log", thread id first, DEBUG for level 1, else ERROR).
void writeLog(int level, const char* format, ...) LOG_PRINTF_FORMAT(2, 3);

// ---- JVM host ----

constexpr const char* kConfigFileName = "tavodll_classpath.conf";
constexpr int kMaxConfigLines = 20;
constexpr size_t kMaxConfigLineBytes = 4095;
// "-Djava.class.path=" plus the class path must fit a 4096-byte buffer with its terminator.
constexpr size_t kMaxClassPathBytes = 4077;

// The virtual machine of the process: null until a creation succeeds, never cleared.
extern JavaVM* jvm;

// The up to 20 non-empty lines of the configuration file; false when it cannot be read.
bool getClassPath(std::vector<std::string>& lines);

// Splits configuration bytes into at most 20 non-empty lines (LF or CR LF endings; a line
// longer than 4095 bytes keeps its first 4095). Exposed for the unit tests.
struct ConfigScanner {
    std::vector<std::string> lines;
    std::string current;
    bool pendingCR = false;
    std::vector<int> truncatedLines;  // 1-based numbers of lines that were cut
};
void scanConfigBytes(ConfigScanner& scanner, const char* bytes, size_t count);
void finishConfigScan(ConfigScanner& scanner);

void loadJVM();
JNIEnv* getEnv();
void releaseAndDetach(JNIEnv* env, jobject object, jclass cls);

// ---- proxy calls ----

int initSendServiceProxy(JNIEnv* env, const char* methodName, const char* signature, jclass* proxyClass, jobject* proxy,
                         jmethodID* method);
char* javaStringToNative(JNIEnv* env, jstring text);
char* sendMessageCommon(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                        const char* messaggio, const char* name);

// Whether text is well-formed modified UTF-8 (what NewStringUTF accepts).
bool isModifiedUtf8(const char* text);

// ---- code generator ----

struct Mt19937 {
    uint32_t state[624];
    int index;
};
void mtSeed(Mt19937& generator, uint32_t seed);
uint32_t mtNext(Mt19937& generator);

// Creates the generator mutex and seeds the generator from the calendar time, once.
void initCodeGenerator();
// Test seam: reseeds the process-wide generator.
void seedCodeGenerator(uint32_t seed);
// getCodiceTAVO with the UTC clock reading (100-ns units since 1601) given.
char* makeCodiceTAVO(const char* codiceAzienda, int64_t fileTime);
