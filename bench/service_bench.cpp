// Service client throughput: tavo2 loaded as a host loads it, each workload set against its
// floor (the work the call cannot avoid), the two measured alternately in every repetition.
//   service_bench TAVO2_LIBRARY JVM_LIBRARY RESULTS_CSV REPS
// Runs in a working folder holding tavodll_classpath.conf (the trivial bench proxy); tavo2
// moves standard output to stdout.log there, so results go to RESULTS_CSV.
// Lines: "workload,tavo2|floor,operations per second".
#include <jni.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "dynlib.h"
#include "log.h"

namespace {

using GetCodiceTAVO = char* (*)(const char*);
using StartTavo = int (*)();
using SendMessageS = char* (*)(int*, int*, const char*, const char*, const char*);
using GetCreatedJavaVMs = jint (*)(JavaVM**, jsize, jsize*);

const char* const companyCode = "999";
const char* const servizio = "BENCH";
const char* const mittente = "bench";
const char* const messaggio = "<ping/>";

GetCodiceTAVO getCodiceTAVO;
StartTavo startTavo;
SendMessageS sendMessageS;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "service_bench: %s\n", what);
    std::exit(1);
}

void* symbol(platform::LibraryHandle library, const char* name) {
    void* found = platform::findSymbol(library, name);
    if (found == nullptr) fail(name);
    return found;
}

// Operations per second of `threads` threads each running `perThread` operations.
template <typename Operation>
double rate(int threads, long perThread, Operation operation) {
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; i++)
        workers.emplace_back([&] {
            for (long n = 0; n < perThread; n++) operation();
        });
    for (long n = 0; n < perThread; n++) operation();
    for (std::thread& worker : workers) worker.join();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<double>(threads) * static_cast<double>(perThread) / elapsed.count();
}

void viaTavo2Send() {
    int statusOk = 0;
    int errorNumber = 1;
    char* reply = sendMessageS(&statusOk, &errorNumber, servizio, mittente, messaggio);
    if (reply == nullptr || statusOk != -1 || errorNumber != 0) fail("sendMessageS");
    std::free(reply);
}

// ---- Floors ------------------------------------------------------------------------------------

// One open, append and close of a log file, the line as long as the generator's entry.
void appendCodeLine() {
    std::FILE* file = std::fopen("floor_codes.log", "a+");
    if (file == nullptr) fail("floor_codes.log");
    std::fprintf(file, "%08X [08/12/2026 21:00:00:000] DEBUG - getCodiceTAVO('%s')='%s'. Now:%lld\n", 0u, companyCode,
                 "999N138VLB05BYC1", 17000000001LL);
    std::fclose(file);
}

// The direct Java call a send makes, on a proxy and a thread that are already there, plus the
// entries the send writes to the log.
struct DirectCall {
    JavaVM* vm;
    jobject proxy;
    jmethodID send;
    jmethodID isStatusOk;
    jmethodID getErrorNumber;
    jmethodID getXMLMessage;
};

void directSend(JNIEnv* env, const DirectCall& call) {
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "%s.I servizio='%s', mittente='%s'\n", "sendMessageS", servizio,
                 mittente);
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "getEnv...\n");
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "before %s\n", "sendMessageS");
    jstring s = env->NewStringUTF(servizio);
    jstring m = env->NewStringUTF(mittente);
    jstring x = env->NewStringUTF(messaggio);
    jobject response = env->CallObjectMethod(call.proxy, call.send, s, m, x);
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "after %s\n", "sendMessageS");
    if (response == nullptr || env->ExceptionCheck()) fail("direct sendMessageS");
    int statusOk = env->CallBooleanMethod(response, call.isStatusOk) ? -1 : 0;
    int errorNumber = env->CallIntMethod(response, call.getErrorNumber);
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "before getXMLMessage\n");
    auto xml = static_cast<jstring>(env->CallObjectMethod(response, call.getXMLMessage));
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "after getXMLMessage\n");
    if (xml == nullptr || statusOk == 0 || errorNumber != 0) fail("direct response");
    const char* chars = env->GetStringUTFChars(xml, nullptr);
    char* copy = static_cast<char*>(std::calloc(std::strlen(chars) + 1, 1));
    std::strcpy(copy, chars);
    env->ReleaseStringUTFChars(xml, chars);
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "nativeresult!=NULL\n");
    std::free(copy);
    for (jobject ref : {static_cast<jobject>(xml), response, static_cast<jobject>(s), static_cast<jobject>(m),
                        static_cast<jobject>(x)})
        env->DeleteLocalRef(ref);
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "%s.U servizio='%s', mittente='%s'\n", "sendMessageS", servizio,
                 mittente);
}

// The proxy and its methods, looked up once.
DirectCall prepareDirect(const char* jvmLibrary) {
    platform::LibraryHandle runtime = platform::loadLibrary(jvmLibrary);
    if (runtime == nullptr) fail("cannot load the JVM library");
    auto created = reinterpret_cast<GetCreatedJavaVMs>(symbol(runtime, "JNI_GetCreatedJavaVMs"));
    jsize count = 0;
    DirectCall call{};
    if (created(&call.vm, 1, &count) != JNI_OK || count != 1) fail("no JVM in the process");
    JNIEnv* env = nullptr;
    if (call.vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) fail("attach");
    jclass proxyClass = env->FindClass("tavo/client/SendServiceProxy");
    jclass responseClass = env->FindClass("tavo/client/ITavoClientResponse");
    if (proxyClass == nullptr || responseClass == nullptr) fail("bench proxy classes");
    call.proxy = env->NewGlobalRef(env->NewObject(proxyClass, env->GetMethodID(proxyClass, "<init>", "()V")));
    call.send =
        env->GetMethodID(proxyClass, "sendMessageS",
                         "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ltavo/client/ITavoClientResponse;");
    call.isStatusOk = env->GetMethodID(responseClass, "isStatusOk", "()Z");
    call.getErrorNumber = env->GetMethodID(responseClass, "getErrorNumber", "()I");
    call.getXMLMessage = env->GetMethodID(responseClass, "getXMLMessage", "()Ljava/lang/String;");
    if (call.proxy == nullptr || call.send == nullptr || call.getXMLMessage == nullptr) fail("bench proxy methods");
    env->DeleteLocalRef(proxyClass);
    env->DeleteLocalRef(responseClass);
    call.vm->DetachCurrentThread();
    return call;
}

// Sends per second of the direct floor, on a fresh thread attached once for the whole sample.
double directRate(const DirectCall& call, long sends) {
    double perSecond = 0;
    std::thread worker([&] {
        JNIEnv* env = nullptr;
        if (call.vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) fail("attach");
        perSecond = rate(1, sends, [&] { directSend(env, call); });
        call.vm->DetachCurrentThread();
    });
    worker.join();
    return perSecond;
}

// Sends per second through tavo2, on a fresh thread as a host would call (tavo2 attaches and
// detaches it on every call).
double tavo2Rate(long sends) {
    double perSecond = 0;
    std::thread host([&] { perSecond = rate(1, sends, viaTavo2Send); });
    host.join();
    return perSecond;
}

void viaTavo2Code() {
    char* code = getCodiceTAVO(companyCode);
    if (code == nullptr) fail("getCodiceTAVO");
    std::free(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: service_bench TAVO2_LIBRARY JVM_LIBRARY RESULTS_CSV [REPS]\n");
        return 2;
    }
    int reps = argc > 4 ? std::max(1, std::atoi(argv[4])) : 7;
    std::FILE* results = std::fopen(argv[3], "w");
    if (results == nullptr) fail("cannot write the results file");
    platform::LibraryHandle tavo2 = platform::loadLibrary(argv[1]);
    if (tavo2 == nullptr) fail("cannot load tavo2");
    getCodiceTAVO = reinterpret_cast<GetCodiceTAVO>(symbol(tavo2, "getCodiceTAVO"));
    startTavo = reinterpret_cast<StartTavo>(symbol(tavo2, "startTavo"));
    sendMessageS = reinterpret_cast<SendMessageS>(symbol(tavo2, "sendMessageS"));
    if (startTavo() != 1) fail("startTavo (see tavodll_*.log)");
    DirectCall direct = prepareDirect(argv[2]);

    const long codes = 20000;
    const long entries = 20000;
    const long sends = 2000;
    auto writeOneEntry = [] { writeLogWith(tavo2LogSettings, LOG_DEBUG, "writeLog bench entry %d\n", 42); };
    auto report = [results](const char* workload, const char* way, double perSecond) {
        std::fprintf(results, "%s,%s,%.0f\n", workload, way, perSecond);
    };
    for (int rep = -1; rep < reps; rep++) {  // repetition -1 warms up and is not reported
        double values[] = {
            rate(1, codes, viaTavo2Code),
            rate(1, codes, appendCodeLine),
            rate(2, codes / 2, viaTavo2Code),
            rate(2, codes / 2, appendCodeLine),
            tavo2Rate(sends),
            directRate(direct, sends),
            rate(1, entries, writeOneEntry),
            rate(1, entries, appendCodeLine),
        };
        if (rep < 0) continue;
        report("getCodiceTAVO_1_thread", "tavo2", values[0]);
        report("getCodiceTAVO_1_thread", "floor", values[1]);
        report("getCodiceTAVO_2_threads", "tavo2", values[2]);
        report("getCodiceTAVO_2_threads", "floor", values[3]);
        report("sendMessageS", "tavo2", values[4]);
        report("sendMessageS", "floor", values[5]);
        report("writeLog", "tavo2", values[6]);
        report("writeLog", "floor", values[7]);
        std::fflush(results);
    }
    std::fclose(results);
    // The JVM tavo2 created is never destroyed; leave without running its teardown.
    std::_Exit(0);
}
