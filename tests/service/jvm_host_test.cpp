// tavo2 loaded into native host processes with a real JVM behind it: configuration handling,
// every export's messages and results, broken proxies, threads and the reference proxy.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_support.h"
#include "test_support.h"

namespace {

using Strings = std::vector<std::string>;

std::string D(const std::string& message) { return "DEBUG - " + message; }
std::string E(const std::string& message) { return "ERROR - " + message; }

// An export called without a virtual machine: its two failure messages between entry and exit.
Strings failsWithoutJvm(const std::string& name) {
    return {D(name + ".I\n"), D("getEnv...\n"), E("getEnv: JVM nulla\n"), E("initSendServiceProxy: env=NULL !\n")};
}

std::string proxyConfig(const std::string& classPath, const std::string& extraLines = "") {
    return classPath + "\njvmdllpath=" + LIBJVM_PATH + "\n" + extraLines;
}

#define EXPECT_RUN(entries, ...) EXPECT_GE(findRun(entries, Strings{__VA_ARGS__}), 0) << "log:\n" << run.logText

class JvmHostTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
};

TEST_F(JvmHostTest, WithoutConfigurationOnlyEchoAndCodesWork) {
    HostRun run = runHost({"code", "999", "sendS", "DLLECHO", "M", "X", "start", "stop", "check", "version", "ride",
                           "sendS", "OK", "m", "x", "sendA", "OK", "m", "x"});
    ASSERT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.results.size(), 9u);
    ASSERT_EQ(run.results[0].size(), 5u + 16u);
    EXPECT_EQ(run.results[0].rfind("code=999", 0), 0u);
    EXPECT_EQ(run.results[0].find_first_not_of("0123456789ABCDEFGHJKLMNPQRSTUVWXYZ", 8), std::string::npos);
    EXPECT_EQ(run.results[1], "sendMessageS=SERVIZIO=DLLECHO\\nMITTENTE=M\\nMESSAGGIO=X status=12345 error=12345");
    EXPECT_EQ(run.results[2], "start=0");
    EXPECT_EQ(run.results[4], "check=NULL");
    EXPECT_EQ(run.results[5], "version=NULL");
    EXPECT_EQ(run.results[6], "ride=0");
    EXPECT_EQ(run.results[7], "sendMessageS=NULL status=12345 error=12345");
    EXPECT_EQ(run.results[8], "sendMessageA=NULL status=12345 error=12345");
    EXPECT_EQ(run.stdoutLog, "SERVIZIO=DLLECHO\nMITTENTE=M\nMESSAGGIO=X\n");

    auto& log = run.log;
    EXPECT_EQ(findRun(log, {D("DllMain\n"), D("CreateMutex, init..\n"), D("DLL_PROCESS_ATTACH\n"),
                            D("TAVO DLL versione 3.1.0 17-12-2014\n")}),
              0);
    EXPECT_EQ(log.at(4).rfind(D("getCodiceTAVO('999')='") + run.results[0].substr(5) + "'. Now:", 0), 0u) << log[4];
    EXPECT_RUN(log, D("sendMessageS.I servizio='DLLECHO', mittente='M'\n"),
               D("sendMessageS.U servizio='DLLECHO', mittente='M'\n"));
    EXPECT_RUN(log, D("startTavo.I\n"), E("loadJVM invoked\n"), D("getClassPath  invoked\n"),
               E("impossibile aprire il file tavodll_classpath.conf (2)\n"), D("getEnv...\n"), E("getEnv: JVM nulla\n"),
               E("initSendServiceProxy: env=NULL !\n"), D("startTavo.U\n"));
    for (const char* name : {"stopTavo", "checkTransport"}) {
        Strings expected = failsWithoutJvm(name);
        expected.push_back(D(std::string(name) + ".U\n"));
        EXPECT_GE(findRun(log, expected), 0) << name << "\n" << run.logText;
    }
    // The exit message without a line ending shares its line with the next entry.
    Strings version = failsWithoutJvm("getVersionePorta");
    version.push_back(D("getVersionePorta.U"));
    version.push_back(D("getRideConfig.I\n"));
    EXPECT_GE(findRun(log, version), 0) << run.logText;
    EXPECT_NE(run.logText.find("getVersionePorta.U0"), std::string::npos);
    EXPECT_RUN(log, D("getRideConfig.I\n"), D("getEnv...\n"), E("getEnv: JVM nulla\n"),
               D("getRideConfig,  initSendServiceProxy....\n"), E("initSendServiceProxy: env=NULL !\n"),
               D("getRideConfig, finally\n"), D("getRideConfig.U\n"));
    for (const char* name : {"sendMessageS", "sendMessageA"}) {
        std::string args = " servizio='OK', mittente='m'\n";
        EXPECT_GE(findRun(log, {D(name + (".I" + args)), D("getEnv...\n"), E("getEnv: JVM nulla\n"),
                                E("initSendServiceProxy: env=NULL !\n"), D(name + (".U" + args))}),
                  0)
            << name;
    }
    // The destructor stands in for process detach.
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(Strings(log.end() - 2, log.end()), (Strings{D("DllMain\n"), D("DLL_PROCESS_DETACH\n")}));
}

TEST_F(JvmHostTest, ConfigurationsThatCannotStartAJvm) {
    struct Case {
        std::string config;
        Strings expected;
        std::string loadFailure = "";  // the loader's words after "java dll not loaded error_code:%d"
    };
    const std::string tooLong(4078, 'c');
    const Case cases[] = {
        {"cp.jar",
         {D("before invoking the JVM with classpath -Djava.class.path=cp.jar\n"), D("before handling jvmDllPath\n"),
          D("jvmDllPath is null")}},
        {std::string("jvmdllpath=") + LIBJVM_PATH + "\r\n",
         {D(std::string("before invoking the JVM with classpath -Djava.class.path=jvmdllpath=") + LIBJVM_PATH + "\n"),
          D("before handling jvmDllPath\n"), D("jvmDllPath is null")}},
        {"", {D("getClassPath  invoked\n"), E("tavodll_classpath.conf has no classpath line: JVM not started\n")}},
        {"\r\n\n\r\n",
         {D("getClassPath  invoked\n"), E("tavodll_classpath.conf has no classpath line: JVM not started\n")}},
        {proxyConfig(tooLong),
         {D("getClassPath  invoked\n"), E("classpath of 4078 bytes exceeds the 4077 allowed: JVM not started\n"),
          D("getEnv...\n")}},
        {"cp.jar\njvmdllpath=/nonexistent/libjvm.so\n",
         {D("loading jvm from filesystem /nonexistent/libjvm.so\n"),
          D("transforming dll path /nonexistent/libjvm.so\n")},
         "/nonexistent/libjvm.so: cannot open shared object file: No such file or directory"},
        // An empty path would name the host program itself to the loader.
        {"cp.jar\njvmdllpath=\n",
         {D("loading jvm from filesystem \n"), D("transforming dll path \n")},
         "no library path given"},
        {std::string("cp.jar\njvmdllpath=") + TAVO2_LIBRARY + "\n",
         {D(std::string("transforming dll path ") + TAVO2_LIBRARY + "\n"), E("java dll loaded\n")}},
    };
    for (const Case& each : cases) {
        ScratchDirectory caseDir;
        writeConfig(each.config);
        HostRun run = runHost({"start", "version"});
        ASSERT_EQ(run.exitCode, 0) << each.config;
        EXPECT_EQ(run.results, (Strings{"start=0", "version=NULL"})) << each.config;
        int at = findRun(run.log, each.expected);
        ASSERT_GE(at, 0) << each.config.substr(0, 80) << "\n" << run.logText.substr(0, 5000);
        EXPECT_EQ(countEntries(run.log, E("getEnv: JVM nulla\n")), 2) << run.logText.substr(0, 5000);
        EXPECT_EQ(countEntries(run.log, D("JVM CARICATA CON SUCCESSO\n")), 0);
        const std::string& next = run.log.at(at + each.expected.size());
        const std::string& last = each.expected.back();
        if (last == D("jvmDllPath is null") || !each.loadFailure.empty()) {
            EXPECT_EQ(next.rfind(E("java dll not loaded error_code:"), 0), 0u) << next;
        } else if (last == E("java dll loaded\n")) {
            EXPECT_EQ(next.rfind(E("no java VM load method - err code "), 0), 0u) << next;
        }
        if (!each.loadFailure.empty()) {
            EXPECT_EQ(run.log.at(at + each.expected.size() + 1), E("java dll not loaded: " + each.loadFailure + "\n"));
        }
    }
}

TEST_F(JvmHostTest, UnreadableConfigurationIsReportedWithoutLineEnding) {
    // A folder opens but cannot be read: the first read fails.
    ASSERT_EQ(mkdir("tavodll_classpath.conf", 0755), 0);
    HostRun run = runHost({"start"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.results, Strings{"start=0"});
    EXPECT_RUN(run.log, D("getClassPath  invoked\n"), E("error reading tavodll_classpath.conf"), D("getEnv...\n"),
               E("getEnv: JVM nulla\n"));
}

TEST_F(JvmHostTest, WellBehavedProxyThroughAMessyConfiguration) {
    std::string config = std::string("\r\n") + TESTPROXY_JAR + "\r\n\r\njvm=17\r\njvmdllpath=/nonexistent/libjvm.so\n" +
                         "option=-Djvm=x\r\n\njvmdllpath=" + LIBJVM_PATH + "\r\noption=-Dtavotest.ride=99\r\n";
    for (int i = 6; i < 20; ++i) config += "# filler " + std::to_string(i) + "\r\n\r\n";
    config += "option=-Dtavotest.mode=throw";  // line 20: beyond the twenty used
    writeConfig(config);
    HostRun run =
        runHost({"start",   "start", "check", "version", "ride",  "sendS",   "OK", "mitt", "caff\xC3\xA8 \xE2\x82\xAC",
                 "sendA",   "KO",    "m",     "x",       "sendS", "DLLECHO", "M",  "X",    "sendS",
                 "dllecho", "M",     "X",     "stop",    "start"});
    ASSERT_EQ(run.exitCode, 0) << run.logText;
    EXPECT_EQ(
        run.results,
        (Strings{"start=1", "start=1", "check=OK", "version=testproxy 1.0", "ride=99",
                 "sendMessageS=<r metodo='sendMessageS' servizio='OK' mittente='mitt'>caff\xC3\xA8 \xE2\x82\xAC|"
                 "0063 0061 0066 0066 00E8 0020 20AC</r> status=-1 error=0",
                 "sendMessageA=<r metodo='sendMessageA' servizio='KO' mittente='m'>x|0078</r> status=0 error=7",
                 "sendMessageS=SERVIZIO=DLLECHO\\nMITTENTE=M\\nMESSAGGIO=X status=12345 error=12345",
                 "sendMessageS=<r metodo='sendMessageS' servizio='dllecho' mittente='M'>X|0058</r> status=-1 error=0",
                 "stop", "start=1"}));
    EXPECT_EQ(run.stdoutLog, "SERVIZIO=DLLECHO\nMITTENTE=M\nMESSAGGIO=X\n");
    auto& log = run.log;
    EXPECT_EQ(countEntries(log, D("getClassPath  invoked\n")), 1);
    EXPECT_RUN(log, E("line 1 = jvm=17\n"), D("jvmVersion= 17\n"), E("line 2 = jvmdllpath=/nonexistent/libjvm.so\n"),
               D("jvmdllpath= /nonexistent/libjvm.so\n"), E("line 3 = option=-Djvm=x\n"), D("option= -Djvm=x\n"),
               D("jvmVersion= on=-Djvm=x\n"), E(std::string("line 4 = jvmdllpath=") + LIBJVM_PATH + "\n"),
               D(std::string("jvmdllpath= ") + LIBJVM_PATH + "\n"), E("line 5 = option=-Dtavotest.ride=99\n"),
               D("option= -Dtavotest.ride=99\n"), E("line 6 = # filler 6\n"));
    EXPECT_RUN(log, E("line 19 = # filler 19\n"), D("after options\n"),
               D(std::string("before invoking the JVM with classpath -Djava.class.path=") + TESTPROXY_JAR + "\n"),
               D("before handling jvmDllPath\n"), D(std::string("loading jvm from filesystem ") + LIBJVM_PATH + "\n"),
               D(std::string("transforming dll path ") + LIBJVM_PATH + "\n"), E("java dll loaded\n"),
               D("JVM invocata GetProcAddress\n"), D("javaFuncPtr...\n"), D("javaFuncPtr...invocata, result=0\n"),
               D("JVM CARICATA CON SUCCESSO\n"), D("JVM libero risorse classpath\n"), D("getEnv...\n"),
               D("Invoco startTavo\n"), D("startTavo: OK\n"), D("startTavo.U\n"), D("startTavo.I\n"), D("getEnv...\n"),
               D("Invoco startTavo\n"));
    EXPECT_RUN(log, D("sendMessageS.I servizio='OK', mittente='mitt'\n"), D("getEnv...\n"), D("before sendMessageS\n"),
               D("after sendMessageS\n"), D("before getXMLMessage\n"), D("after getXMLMessage\n"),
               D("nativeresult!=NULL\n"), D("sendMessageS.U servizio='OK', mittente='mitt'\n"));
    EXPECT_RUN(log, D("getVersionePorta.I\n"), D("getEnv...\n"), D("getVersionePorta.U"), D("getRideConfig.I\n"),
               D("getEnv...\n"), D("getRideConfig,  initSendServiceProxy....\n"),
               D("getRideConfig,  CallIntMethod..\n"), D("getRideConfig, finally\n"), D("getRideConfig.U\n"));
    EXPECT_RUN(log, D("stopTavo.I\n"), D("getEnv...\n"), D("stopTavo.U\n"));
}

TEST_F(JvmHostTest, ResponsesThatFailHalfwayAndUnusualArguments) {
    writeConfig(proxyConfig(TESTPROXY_JAR));
    HostRun run = runHost({"start",
                           "sendS",
                           "ERRNUM_THROWS",
                           "m",
                           "x",
                           "sendS",
                           "STATUS_THROWS",
                           "m",
                           "x",
                           "sendS",
                           "XML_THROWS",
                           "m",
                           "x",
                           "sendA",
                           "XML_NULL",
                           "m",
                           "x",
                           "sendS",
                           "THROW",
                           "m",
                           "x",
                           "sendS",
                           "NULLRESP",
                           "m",
                           "x",
                           "sendS",
                           "@NULL",
                           "m",
                           "x",
                           "sendS",
                           "OK",
                           "m",
                           "@NULL",
                           "sendNoOut",
                           "OK",
                           "m",
                           "x",
                           "sendS",
                           "OK",
                           "\xE8",
                           "",
                           "sendS",
                           "OK",
                           "m",
                           "caff\xC3\xA8 \xF0\x9F\x98\x80"});
    ASSERT_EQ(run.exitCode, 0) << run.logText;
    EXPECT_EQ(
        run.results,
        (Strings{"start=1", "sendMessageS=NULL status=-1 error=12345", "sendMessageS=NULL status=0 error=12345",
                 "sendMessageS=NULL status=-1 error=0", "sendMessageA=NULL status=-1 error=0",
                 "sendMessageS=NULL status=0 error=12345", "sendMessageS=NULL status=0 error=12345",
                 "sendMessageS=NULL status=12345 error=12345", "sendMessageS=NULL status=12345 error=12345",
                 "sendMessageS=<r metodo='sendMessageS' servizio='OK' mittente='m'>x|0078</r> status=12345 "
                 "error=12345",
                 // A lone code-page byte is not modified UTF-8: it goes through the conversion.
                 "sendMessageS=<r metodo='sendMessageS' servizio='OK' mittente='\xEF\xBF\xBD'>|</r> status=-1 "
                 "error=0",
                 // The reply is standard UTF-8: a character beyond the 16-bit range in four bytes,
                 // not the six of a surrogate pair in modified UTF-8.
                 "sendMessageS=<r metodo='sendMessageS' servizio='OK' mittente='m'>caff\xC3\xA8 \xF0\x9F\x98\x80|0063 "
                 "0061 0066 0066 00E8 0020 D83D DE00</r> status=-1 error=0"}));
    auto& log = run.log;
    EXPECT_RUN(log, E("Metodo getErrorNumber non trovato\n"),
               D("sendMessageS.U servizio='ERRNUM_THROWS', mittente='m'\n"));
    EXPECT_RUN(log, E("Metodo isStatusOk non trovato\n"), D("sendMessageS.U servizio='STATUS_THROWS', mittente='m'\n"));
    EXPECT_RUN(log, D("before getXMLMessage\n"), D("after getXMLMessage\n"),
               E("Exception lanciata dal metodo getXMLMessage\n"));
    EXPECT_RUN(log, D("after getXMLMessage\n"), E("getXMLMessage: resultXML e' null \n"));
    EXPECT_RUN(log, D("after sendMessageS\n"), E("Exception durante l'esecuzione del metodo sendMessageS\n"));
    EXPECT_RUN(log, D("after sendMessageS\n"), E("sendMessageS: la risposta e' null\n"));
    EXPECT_RUN(log, D("sendMessageS.I servizio='(null)', mittente='m'\n"),
               E("sendMessageS: servizio, mittente e messaggio non possono essere NULL\n"),
               D("sendMessageS.U servizio='(null)', mittente='m'\n"));
}

TEST_F(JvmHostTest, ProxyMethodsThatThrow) {
    writeConfig(proxyConfig(TESTPROXY_JAR, "option=-Dtavotest.mode=throw\n"));
    HostRun run = runHost({"start", "stop", "check", "version", "ride", "sendS", "OK", "m", "x"});
    ASSERT_EQ(run.exitCode, 0) << run.logText;
    EXPECT_EQ(run.results, (Strings{"start=0", "stop", "check=NULL", "version=NULL", "ride=0",
                                    "sendMessageS=NULL status=0 error=12345"}));
    auto& log = run.log;
    EXPECT_RUN(log, D("Invoco startTavo\n"), E("startTavo: errore\n"), D("startTavo.U\n"));
    EXPECT_RUN(log, D("stopTavo.I\n"), D("getEnv...\n"), E("stopTavo: exception durante l'esecuzione\n"),
               D("stopTavo.U\n"));
    EXPECT_RUN(log, D("getEnv...\n"), E("checkTransport: exception durante l'esecuzione\n"), D("checkTransport.U\n"));
    EXPECT_RUN(log, D("getEnv...\n"), E("getVersionePorta: exception durante l'esecuzione\n"), D("getVersionePorta.U"));
    EXPECT_RUN(log, D("getRideConfig,  CallIntMethod..\n"), D("getRideConfig, ExceptionOccurred!\n"),
               D("getRideConfig, finally\n"));
    EXPECT_RUN(log, D("after sendMessageS\n"), E("Exception durante l'esecuzione del metodo sendMessageS\n"));
}

TEST_F(JvmHostTest, ProxyMethodsThatAnswerNull) {
    writeConfig(proxyConfig(TESTPROXY_JAR, "option=-Dtavotest.mode=null\n"));
    HostRun run = runHost({"start", "check", "version", "sendS", "OK", "m", "x"});
    ASSERT_EQ(run.exitCode, 0) << run.logText;
    EXPECT_EQ(run.results,
              (Strings{"start=1", "check=NULL", "version=NULL", "sendMessageS=NULL status=0 error=12345"}));
    EXPECT_RUN(run.log, D("checkTransport.I\n"), D("getEnv...\n"), D("checkTransport.U\n"));
    EXPECT_RUN(run.log, D("getEnv...\n"), E("getVersionePorta: NULL\n"), D("getVersionePorta.U"));
    EXPECT_RUN(run.log, D("after sendMessageS\n"), E("sendMessageS: la risposta e' null\n"));
}

#if defined(__SANITIZE_ADDRESS__)
// Replies whose native copies the allocator refuses (it gives no block over 32 MiB here): the
// calls answer null and say so at error level, never "nativeresult!=NULL".
TEST_F(JvmHostTest, RepliesWithoutMemoryForTheirCopyAreErrors) {
    writeConfig(proxyConfig(TESTPROXY_JAR, "option=-Dtavotest.mode=huge\noption=-Dtavotest.hugeChars=10000000\n"));
    HostRun run =
        runHost({"start", "check", "sendS", "OK", "m", "x"}, "allocator_may_return_null=1:max_allocation_size_mb=32");
    ASSERT_EQ(run.exitCode, 0) << run.logText.substr(0, 5000);
    EXPECT_EQ(run.results, (Strings{"start=1", "check=NULL", "sendMessageS=NULL status=-1 error=0"}));
    EXPECT_RUN(run.log, D("getEnv...\n"), E("checkTransport: conversione della stringa fallita\n"),
               D("checkTransport.U\n"));
    EXPECT_RUN(run.log, D("after getXMLMessage\n"), E("nativeresult==NULL: memoria insufficiente\n"),
               D("sendMessageS.U servizio='OK', mittente='m'\n"));
    EXPECT_EQ(countEntries(run.log, D("nativeresult!=NULL\n")), 0);
}
#endif

TEST_F(JvmHostTest, BrokenProxyClasses) {
    struct Case {
        std::string config;
        Strings results;
        Strings messages;
    };
    const Case cases[] = {
        {proxyConfig(TESTPROXY_NOCTOR_JAR),
         {"start=0", "version=NULL"},
         {E("initSendServiceProxy: costruttore di SendServiceProxy non trovato\n")}},
        {proxyConfig(TESTPROXY_JAR, "option=-Dtavotest.mode=ctorthrow\n"),
         {"start=0", "version=NULL"},
         {E("initSendServiceProxy: errore durante la creazione di SendServiceProxy\n")}},
        {proxyConfig("/nonexistent/proxy.jar"),
         {"start=0", "version=NULL"},
         {E("initSendServiceProxy: impossibile trovare la classe SendService\n")}},
        {proxyConfig(TESTPROXY_NOMETHOD_JAR),
         {"start=1", "version=NULL"},
         {E("Metodo getVersionePorta non trovato\n"), E("Metodo sendMessageA non trovato\n")}},
    };
    for (const Case& each : cases) {
        ScratchDirectory caseDir;
        writeConfig(each.config);
        HostRun run = runHost({"start", "version", "sendA", "OK", "m", "x", "stop"});
        ASSERT_EQ(run.exitCode, 0) << run.logText;
        Strings expected = each.results;
        expected.push_back("sendMessageA=NULL status=12345 error=12345");
        expected.push_back("stop");
        EXPECT_EQ(run.results, expected) << each.messages[0];
        for (const std::string& message : each.messages) EXPECT_GE(countEntries(run.log, message), 1) << run.logText;
        EXPECT_EQ(countEntries(run.log, D("JVM CARICATA CON SUCCESSO\n")), 1);
    }
}

TEST_F(JvmHostTest, CallsFromSeveralThreads) {
    writeConfig(proxyConfig(TESTPROXY_JAR));
    HostRun run = runHost({"start", "parallelSend", "6", "15", "parallelCode", "4", "100", "ride"});
    ASSERT_EQ(run.exitCode, 0) << run.logText;
    EXPECT_EQ(run.results, (Strings{"start=1", "parallelSend=90/90", "parallelCode=400/400", "ride=42"}));
    Strings ids = entryThreadIds(run.logText, "sendMessageS.I ");
    std::set<std::string> threads(ids.begin(), ids.end());
    EXPECT_EQ(threads.size(), 6u);
    EXPECT_EQ(countEntries(run.log, D("nativeresult!=NULL\n")), 90);
}

TEST_F(JvmHostTest, ACreationRefusedForAnyReasonIsAFailure) {
    // The host's own JVM makes tavo2's creation answer JNI_EEXIST (-5), not -1.
    writeConfig(proxyConfig(TESTPROXY_JAR));
    HostRun run = runHost({"ownJvm", LIBJVM_PATH, "start", "check"});
    ASSERT_EQ(run.exitCode, 0) << run.logText;
    EXPECT_EQ(run.results, (Strings{"ownJvm=0", "start=0", "check=NULL"}));
    EXPECT_RUN(run.log, D("javaFuncPtr...invocata, result=-5\n"), E("IMPOSSIBILE CARICARE JVM\n"),
               D("JVM libero risorse classpath\n"), D("getEnv...\n"), E("getEnv: JVM nulla\n"));
}

TEST_F(JvmHostTest, UnloadingGivesTheHostItsStandardStreamsBack) {
    writeFile("stdout.log", "left by an earlier run\n");
    writeFile("stderr.log", "left by an earlier run\n");
    HostRun run = runHost({"sendS", "DLLECHO", "a", "b", "unload"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutLog, "SERVIZIO=DLLECHO\nMITTENTE=a\nMESSAGGIO=b\n");
    EXPECT_EQ(run.stderrLog, "");
    EXPECT_EQ(run.hostStdout, "printed after unload\n");
    ASSERT_GE(run.log.size(), 2u);
    EXPECT_EQ(run.log.back(), D("DLL_PROCESS_DETACH\n"));
}

// The local XML service on a free loopback port, stopped when the test ends.
struct XmlService {
    pid_t pid = -1;
    std::string port;
    XmlService() {
        pid = fork();
        if (pid == 0) {
            int quiet = open("service.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(quiet, 1);
            execl(JAVA_EXECUTABLE, JAVA_EXECUTABLE, "-jar", XMLSERVICE_JAR, "0", "service.port", (char*)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 300 && port.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::string text = readFile("service.port");
            if (text != "<missing>") port = text;
        }
    }
    ~XmlService() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

TEST_F(JvmHostTest, ReferenceProxyTalksToTheLocalXmlService) {
    XmlService service;
    ASSERT_FALSE(service.port.empty());
    writeConfig(proxyConfig(TAVO_PROXY_JAR, "option=-Dtavo.endpoint=http://127.0.0.1:" + service.port + "/tavo\n"));
    HostRun run = runHost({"start", "check", "sendS", "ANAGRAFE", "MMG01", "<msg>caff\xC3\xA8</msg>", "sendA", "ERRATO",
                           "MMG01", "x", "stop"});
    ASSERT_EQ(run.exitCode, 0) << run.logText;
    EXPECT_EQ(run.results,
              (Strings{"start=1", "check=OK",
                       "sendMessageS=<?xml version=\"1.0\" encoding=\"UTF-8\"?><risposta servizio=\"ANAGRAFE\" "
                       "mittente=\"MMG01\" modo=\"S\"><esito>OK</esito><errore>0</errore><messaggio>&lt;msg&gt;"
                       "caff\xC3\xA8&lt;/msg&gt;</messaggio></risposta> status=-1 error=0",
                       "sendMessageA=<?xml version=\"1.0\" encoding=\"UTF-8\"?><risposta servizio=\"ERRATO\" "
                       "mittente=\"MMG01\" modo=\"A\"><esito>KO</esito><errore>17</errore><messaggio>x</messaggio>"
                       "</risposta> status=0 error=17",
                       "stop"}));
}

}  // namespace
