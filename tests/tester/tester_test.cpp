// tavotester end to end in scratch installations: its log, the dump file and the exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install_support.h"
#include "test_support.h"

namespace {

// Exit statuses as a POSIX parent sees them (the low eight bits).
constexpr int kExitLoadFailed = 255;  // -1
constexpr int kExitNegative = 253;    // -3

class TesterInstallation : public ::testing::Test {
protected:
    void install(const char* serviceClient) {
        copyFile(STUB_PATH, STUB_FILE);
        copyFile(serviceClient, TAVO2_FILE);
        // Without the service's checkTransport the tester keeps the stub's fallback text.
        options.keepsHandedOverBlock = std::string(serviceClient) == PARTIAL_PATH;
    }

    int runTester(const std::vector<std::string>& arguments = {}, bool hostsJvm = false) {
        std::vector<std::string> argv = {TESTER_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        options.hostsJvm = hostsJvm;
        return runProgram(argv, options).exitStatus;
    }

    std::string testerLog() { return readFile("tavotavotester.log"); }

    ScratchDirectory directory;
    RunOptions options;
};

const char kPositiveLog[] =
    "dll loaded\n"
    "getCodiceTAVO invocata\n"
    "Codice tavo generato: '<code>'\n"
    "got load startTavo\n"
    "startTavo executed 1\n"
    "Versione porta: '" SERVICE_VERSION
    "'\n"
    "Ride config: '42'\n"
    "checkTransport executed\n"
    "CheckTransportResponse: OK\n"
    "Esito: POSITIVO\n"
    "got load stopTavo\n"
    "stopTavo executed\n"
    "return =0\n"
    "FreeLibrary hGetProcIDDLL...OK\n";

TEST_F(TesterInstallation, PositiveCheckDumpsOkAndExitsZero) {
    install(SERVICE_PATH);
    writeServiceConfiguration(PROXY_CLASS_PATH);
    EXPECT_EQ(0, runTester({}, true));
    EXPECT_EQ(kPositiveLog, maskCodes(testerLog()));
    EXPECT_EQ("OK", readFile("CheckDump.txt"));
}

#if defined(XML_SERVICE_JAR)
// The installation as shipped: the reference proxy talking to the local XML service.
TEST_F(TesterInstallation, ReferenceProxyWithLocalXmlServiceIsPositive) {
    LocalXmlService service;
    ASSERT_FALSE(service.endpoint.empty()) << "the local XML service did not come up";
    install(SERVICE_PATH);
    writeServiceConfiguration(REFERENCE_PROXY_JAR, {"-Dtavo.endpoint=" + service.endpoint});
    EXPECT_EQ(0, runTester({}, true));
    std::string log = testerLog();
    EXPECT_NE(std::string::npos, log.find("CheckTransportResponse: OK\nEsito: POSITIVO\n")) << log;
    const std::string tail =
        "Esito: POSITIVO\ngot load stopTavo\nstopTavo executed\nreturn =0\n"
        "FreeLibrary hGetProcIDDLL...OK\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(tail, log.substr(log.size() - tail.size()));
    EXPECT_EQ("OK", readFile("CheckDump.txt"));
}

// Nothing listening at the endpoint: the reference proxy's answer is not "OK".
TEST_F(TesterInstallation, ReferenceProxyWithoutServiceIsNegative) {
    install(SERVICE_PATH);
    writeServiceConfiguration(REFERENCE_PROXY_JAR, {"-Dtavo.endpoint=http://127.0.0.1:1/tavo"});
    EXPECT_EQ(kExitNegative, runTester({}, true));
    EXPECT_NE(std::string::npos, testerLog().find("Esito: NEGATIVO\n")) << testerLog();
    EXPECT_EQ("KO: ", readFile("CheckDump.txt").substr(0, 4));
}
#endif

// A null response (a failure inside the service client) is traced and dumped as "(null)".
TEST_F(TesterInstallation, NullTransportResponseIsNegative) {
    install(SERVICE_PATH);
    writeServiceConfiguration(PROXY_CLASS_PATH, {"-Dstubtest.transport=null"});
    EXPECT_EQ(kExitNegative, runTester({}, true));
    std::string log = testerLog();
    EXPECT_NE(std::string::npos, log.find("checkTransport executed\nCheckTransportResponse: (null)\n"
                                          "Esito: NEGATIVO\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("return =-3\nFreeLibrary hGetProcIDDLL...OK\n")) << log;
    EXPECT_EQ("(null)", readFile("CheckDump.txt"));
}

// Missing exports are skipped; the fallback text of checkTransport is a negative verdict.
TEST_F(TesterInstallation, PartialServiceClientGivesNegativeVerdict) {
    install(PARTIAL_PATH);
    EXPECT_EQ(kExitNegative, runTester());
    EXPECT_EQ(
        "dll loaded\n"
        "getCodiceTAVO invocata\n"
        "Codice tavo generato: '999PARTIAL0000000'\n"
        "got load startTavo\n"
        "startTavo executed 1\n"
        "Versione porta: '(null)'\n"
        "Ride config: '7'\n"
        "checkTransport executed\n"
        "CheckTransportResponse: checkTransport: funzione NULL\n"
        "Esito: NEGATIVO\n"
        "got load stopTavo\n"
        "stopTavo executed\n"
        "return =-3\n"
        "FreeLibrary hGetProcIDDLL...OK\n",
        testerLog());
    EXPECT_EQ("checkTransport: funzione NULL", readFile("CheckDump.txt"));
}

// A stub may answer checkTransport with its own constant text: the tester must not free it,
// and its clean-up still ends the run.
TEST_F(TesterInstallation, ConstantTransportTextIsNotFreed) {
    copyFile(CONSTANT_TRANSPORT_STUB_PATH, STUB_FILE);
    EXPECT_EQ(kExitNegative, runTester());
    std::string log = testerLog();
    EXPECT_NE(std::string::npos, log.find("CheckTransportResponse: checkTransport: funzione NULL\nEsito: NEGATIVO\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("return =-3\nFreeLibrary hGetProcIDDLL...OK\n")) << log;
    EXPECT_EQ("checkTransport: funzione NULL", readFile("CheckDump.txt"));
}

// Without a configuration the service client cannot start its JVM.
TEST_F(TesterInstallation, FailedStartEndsTheRunWithoutStopping) {
    install(SERVICE_PATH);
    EXPECT_EQ(kExitLoadFailed, runTester());
    std::string log = testerLog();
    EXPECT_NE(std::string::npos, log.find("got load startTavo\nstartTavo executed 0\nstartTavo failed\n"
                                          "FreeLibrary hGetProcIDDLL...OK\n"))
        << log;
    EXPECT_EQ(std::string::npos, log.find("stopTavo")) << log;
    EXPECT_EQ(std::string::npos, readDailyLogs("tavodll_").find("stopTavo.I")) << log;
    EXPECT_EQ("ERR startTavo failed", readFile("CheckDump.txt"));
}

TEST_F(TesterInstallation, MissingStubExitsWithoutDumpEntry) {
    EXPECT_EQ(kExitLoadFailed, runTester());
    EXPECT_EQ(
        "failed with error 2\n"
        "dlerror: " STUB_FILE
        ": cannot open shared object file: No such file or directory\n"
        "dll not loaded\n",
        testerLog());
    EXPECT_FALSE(fileExists("CheckDump.txt"));
}

// The dump path comes from the first argument, and runs append to it without separators.
TEST_F(TesterInstallation, RunsAppendToTheDumpFileGivenAsArgument) {
    install(PARTIAL_PATH);
    EXPECT_EQ(kExitNegative, runTester({"verdicts.txt", "ignored"}));
    EXPECT_EQ(kExitNegative, runTester({"verdicts.txt"}));
    copyFile(SERVICE_PATH, TAVO2_FILE);
    EXPECT_EQ(kExitLoadFailed, runTester({"verdicts.txt"}));
    EXPECT_EQ("checkTransport: funzione NULLcheckTransport: funzione NULLERR startTavo failed",
              readFile("verdicts.txt"));
    EXPECT_FALSE(fileExists("CheckDump.txt"));
}

// A dump file that cannot be opened is reported on standard output, and the clean-up tries
// once more with the generic error.
TEST_F(TesterInstallation, UnopenableDumpFileIsRetriedAtCleanUp) {
    install(PARTIAL_PATH);
    options.captureStdout = true;
    ProgramRun run = runProgram({TESTER_PATH, "missing-folder/dump.txt"}, options);
    EXPECT_EQ(kExitNegative, run.exitStatus);
    EXPECT_EQ(
        "The file 'missing-folder/dump.txt' was not opened\n"
        "The file 'missing-folder/dump.txt' was not opened\n",
        run.report);
    EXPECT_NE(std::string::npos, testerLog().find("Esito: NEGATIVO\n")) << testerLog();
}

}  // namespace
