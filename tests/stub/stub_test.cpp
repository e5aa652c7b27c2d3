// The stub in a scratch installation: the update swap and its failures, the forwarding table
// and the fallbacks, observed through a host process per case (the stub works once per process).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "fileops.h"
#include "install_support.h"
#include "test_support.h"

namespace {

const std::string kStub = STUB_FILE;
const std::string kService = TAVO2_FILE;
const std::string kUpdate = TAVO2UPD_FILE;
const std::string kBackup = TAVO2BCK_FILE;
const std::vector<std::string> kAllExports = {"startTavo",      "getCodiceTAVO", "getVersionePorta", "getRideConfig",
                                              "checkTransport", "sendMessageS",  "sendMessageA",     "stopTavo"};

std::vector<std::string> resolvedLines(const char* verdict) {
    std::vector<std::string> lines;
    for (const char* name : {"startTavo", "stopTavo", "sendMessageS", "sendMessageA", "checkTransport", "getCodiceTAVO",
                             "getVersionePorta", "getRideConfig"})
        lines.push_back(std::string("DEBUG ") + name + " " + verdict + "\n");
    return lines;
}

std::vector<std::string> concat(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const char kServiceLoaded[] = "loaded\nstartTavo=1\ngetVersionePorta=" SERVICE_VERSION "\n";
const char kVariantLoaded[] = "loaded\nstartTavo=1\ngetVersionePorta=" VARIANT_VERSION "\n";

const std::vector<std::string> kAttachStart = {"DEBUG DllStubMain.DLL_PROCESS_ATTACH.I\n", "DEBUG Version 3\n"};
const std::vector<std::string> kAttachEnd = {"DEBUG DllStubMain.DLL_PROCESS_ATTACH.U\n"};

std::vector<std::string> swapLines() {
    return {"DEBUG " + kUpdate + ": CreateFile=80\n",
            "DEBUG Trovato " + kUpdate + ". Copio il file " + kService + " in " + kBackup + "...\n",
            "DEBUG " + kService + " backup OK; cancello " + kService + "....\n",
            "DEBUG Rinomino " + kUpdate + " in " + kService + "....\n"};
}

class StubInstallation : public ::testing::Test {
protected:
    void SetUp() override {
        copyFile(STUB_PATH, kStub);
        writeServiceConfiguration(PROXY_CLASS_PATH);
    }

    ProgramRun host(const std::vector<std::string>& exports, RunOptions options = {}) {
        std::vector<std::string> argv = {HOST_PATH};
        argv.insert(argv.end(), exports.begin(), exports.end());
        return runProgram(argv, options);
    }

    // Starts the JVM and asks the loaded service client which build it is.
    ProgramRun loadedVersion(RunOptions options = {}) {
        options.hostsJvm = true;
        return host({"startTavo", "getVersionePorta"}, options);
    }

    std::vector<std::string> logEntries() { return stubLogEntries(readDailyLogs("tavobridge_")); }

    // The next run's log starts afresh.
    void forgetLog() {
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().filename().string().rfind("tavobridge_", 0) == 0) std::filesystem::remove(entry.path());
    }

    // The installed version is in place and was the one loaded and forwarded to.
    void expectInstalledVersionKept(const ProgramRun& run) {
        EXPECT_EQ(kServiceLoaded, run.report);
        EXPECT_EQ(readFile(SERVICE_PATH), readFile(kService));
    }

    ScratchDirectory directory;
};

TEST_F(StubInstallation, WithoutUpdateRemovesTheProbeAndForwardsEveryExport) {
    copyFile(SERVICE_PATH, kService);
    ProgramRun run = host({"startTavo", "getCodiceTAVO", "getVersionePorta", "getRideConfig", "checkTransport",
                           "sendMessageS", "sendMessageA=PRENOTA", "stopTavo"},
                          {false, true});
    ASSERT_EQ(0, run.exitStatus) << run.report;
    // The echo service answers without Java and leaves the out-parameters alone; a real send
    // sets them from the proxy's response.
    EXPECT_EQ(
        "loaded\n"
        "startTavo=1\n"
        "getCodiceTAVO=<code>\n"
        "getVersionePorta=" SERVICE_VERSION
        "\n"
        "getRideConfig=42\n"
        "checkTransport=OK\n"
        "sendMessageS=SERVIZIO=DLLECHO\\nMITTENTE=M\\nMESSAGGIO=X\n"
        "statusOk=12345 errorNumber=12345\n"
        "sendMessageA=<risposta tipo=\"A\" servizio=\"PRENOTA\" mittente=\"M\"/>\n"
        "statusOk=-1 errorNumber=7\n"
        "stopTavo done\n",
        maskCodes(run.report));

    EXPECT_FALSE(fileExists(kUpdate));
    EXPECT_FALSE(fileExists(kBackup));
    std::vector<std::string> expected = concat(kAttachStart, {"DEBUG Elimino " + kUpdate + "..\n"});
    EXPECT_EQ(concat(concat(expected, resolvedLines("OK")), kAttachEnd), logEntries());
}

TEST_F(StubInstallation, PendingUpdateIsSwappedInAndForwardedTo) {
    copyFile(SERVICE_PATH, kService);
    copyFile(VARIANT_PATH, kUpdate);
    ProgramRun run = loadedVersion();
    ASSERT_EQ(0, run.exitStatus) << run.report;
    EXPECT_EQ(kVariantLoaded, run.report);

    EXPECT_FALSE(fileExists(kUpdate));
    EXPECT_EQ(readFile(SERVICE_PATH), readFile(kBackup));
    EXPECT_EQ(readFile(VARIANT_PATH), readFile(kService));
    EXPECT_EQ(concat(concat(concat(kAttachStart, swapLines()), resolvedLines("OK")), kAttachEnd), logEntries());

    // The swap happens once: the next process finds nothing pending and keeps the new version.
    run = loadedVersion();
    EXPECT_EQ(kVariantLoaded, run.report);
    EXPECT_EQ(readFile(SERVICE_PATH), readFile(kBackup));
}

TEST_F(StubInstallation, UpdateOverwritesAnEarlierBackup) {
    copyFile(SERVICE_PATH, kService);
    copyFile(VARIANT_PATH, kUpdate);
    writeFile(kBackup, "an earlier backup, longer than nothing");
    ASSERT_EQ(0, host({}).exitStatus);
    EXPECT_EQ(readFile(SERVICE_PATH), readFile(kBackup));
    EXPECT_EQ(readFile(VARIANT_PATH), readFile(kService));
}

// Without a service client the backup fails, the update stays pending, and the stub (which
// cannot refuse its own load here) answers every export with its fallback.
TEST_F(StubInstallation, UpdateWithoutServiceClientStaysPendingAndExportsFallBack) {
    copyFile(VARIANT_PATH, kUpdate);
    ProgramRun run = host(kAllExports);
    ASSERT_EQ(0, run.exitStatus) << run.report;
    EXPECT_EQ(
        "loaded\n"
        "startTavo=0\n"
        "getCodiceTAVO=(null)\n"
        "getVersionePorta=(null)\n"
        "getRideConfig=0\n"
        "checkTransport=checkTransport: funzione NULL\n"
        "sendMessageS=(null)\n"
        "statusOk=12345 errorNumber=12345\n"
        "sendMessageA=(null)\n"
        "statusOk=12345 errorNumber=12345\n"
        "stopTavo done\n",
        run.report);
    EXPECT_EQ(readFile(VARIANT_PATH), readFile(kUpdate));
    EXPECT_FALSE(fileExists(kService));
    EXPECT_FALSE(fileExists(kBackup));

    std::vector<std::string> expected =
        concat(kAttachStart, {"DEBUG " + kUpdate + ": CreateFile=80\n",
                              "DEBUG Trovato " + kUpdate + ". Copio il file " + kService + " in " + kBackup + "...\n",
                              "DEBUG " + kService + " backup Error, impossibile aggiornare la DLL!\n",
                              "ERROR DllStubMain.DLL_PROCESS_ATTACH, hGetProcIDDLL == NULL : 2 !\n",
                              "ERROR DllStubMain.DLL_PROCESS_ATTACH, dlerror: " + kService +
                                  ": cannot open shared object file: No such file or directory\n"});
    for (const char* name : {"startTavo", "getCodiceTAVO", "getVersionePorta", "getRideConfig", "checkTransport",
                             "sendMessageS", "sendMessageA", "stopTavo"})
        expected.push_back(std::string("ERROR ") + name + ": funzione NULL");
    EXPECT_EQ(expected, logEntries());
}

TEST_F(StubInstallation, PartialServiceClientGetsFallbacksOnlyForWhatItLacks) {
    copyFile(PARTIAL_PATH, kService);
    ProgramRun run = host({"getVersionePorta", "checkTransport", "getRideConfig", "getVersionePorta"});
    EXPECT_EQ(
        "loaded\n"
        "getVersionePorta=(null)\n"
        "checkTransport=checkTransport: funzione NULL\n"
        "getRideConfig=7\n"
        "getVersionePorta=(null)\n",
        run.report);
    std::vector<std::string> resolved = resolvedLines("OK");
    resolved[4] = "DEBUG checkTransport KO\n";
    resolved[6] = "DEBUG getVersionePorta KO\n";
    std::vector<std::string> expected =
        concat(concat(concat(kAttachStart, {"DEBUG Elimino " + kUpdate + "..\n"}), resolved), kAttachEnd);
    expected.insert(expected.end(), {"ERROR getVersionePorta: funzione NULL", "ERROR checkTransport: funzione NULL",
                                     "ERROR getVersionePorta: funzione NULL"});
    EXPECT_EQ(expected, logEntries());
}

// A directory the process cannot write: the probe fails with access denied (or, with an
// update pending, the backup fails), nothing changes, and the installed version is loaded.
TEST_F(StubInstallation, UnwritableDirectoryLoadsTheInstalledVersionUnchanged) {
    copyFile(SERVICE_PATH, kService);
    ASSERT_EQ(0, chmod(".", 0555));
    ProgramRun run = host({"getCodiceTAVO"}, {true, false});
    EXPECT_EQ(0, run.exitStatus);
    EXPECT_EQ("loaded\ngetCodiceTAVO=999", run.report.substr(0, 24)) << run.report;

    ASSERT_EQ(0, chmod(".", 0755));
    copyFile(VARIANT_PATH, kUpdate);
    ASSERT_EQ(0, chmod(".", 0555));
    run = loadedVersion({true, false});
    ASSERT_EQ(0, chmod(".", 0755));
    expectInstalledVersionKept(run);
    EXPECT_EQ(readFile(VARIANT_PATH), readFile(kUpdate));
    EXPECT_FALSE(fileExists(kBackup));
    EXPECT_EQ("", readDailyLogs("tavobridge_"));
}

// In a sticky directory a process cannot move files of another owner: an update it cannot
// move, or a service client it cannot replace (another owner's, or in use on Windows), stays as
// it is, and the update waits for a later load.
TEST_F(StubInstallation, UpdateThatCannotBeSwappedStaysPending) {
    if (!runningAsRoot()) GTEST_SKIP() << "needs root to give files another owner";
    std::vector<std::string> expected = concat(kAttachStart, swapLines());
    expected.push_back("ERROR Aggiornamento di " + kService + " non riuscito (5): aggiornamento rimandato\n");
    expected = concat(concat(expected, resolvedLines("OK")), kAttachEnd);
    // First the service client is the process's own and the update is not, then the other way.
    for (bool updateIsOwn : {false, true}) {
        ScratchDirectory caseDirectory;
        SetUp();
        copyFile(SERVICE_PATH, kService);
        copyFile(VARIANT_PATH, kUpdate);
        handToNobody(updateIsOwn ? kUpdate : kService);
        ASSERT_EQ(0, chmod(".", 01777));
        expectInstalledVersionKept(loadedVersion({true, false}));
        ASSERT_EQ(0, chmod(".", 0755));
        EXPECT_EQ(readFile(VARIANT_PATH), readFile(kUpdate));
        EXPECT_EQ(readFile(SERVICE_PATH), readFile(kBackup));
        EXPECT_EQ(expected, logEntries());
    }
}

// A service client that is no loadable library gives way to the backup again, so the
// installation keeps working; it is kept aside for the administrator. Whichever host meets it
// first does so: the one that installed it, or (a) the next, when that one died before.
TEST_F(StubInstallation, UnloadableUpdateIsRevertedToTheBackup) {
    const std::string rejected = platform::privateName(kService.c_str(), "rejected");
    for (bool installedByThisHost : {true, false}) {
        ScratchDirectory caseDirectory;
        SetUp();
        copyFile(SERVICE_PATH, installedByThisHost ? kService : kBackup);
        writeFile(installedByThisHost ? kUpdate : kService, "not a library");
        expectInstalledVersionKept(loadedVersion());
        EXPECT_EQ(readFile(SERVICE_PATH), readFile(kBackup));
        EXPECT_EQ("not a library", readFile(rejected));
        EXPECT_FALSE(fileExists(kUpdate));

        std::vector<std::string> expected =
            concat(kAttachStart,
                   installedByThisHost ? swapLines() : std::vector<std::string>{"DEBUG Elimino " + kUpdate + "..\n"});
        std::vector<std::string> entries = logEntries();
        ASSERT_GT(entries.size(), expected.size() + 1);
        EXPECT_EQ(0u,
                  entries[expected.size()].rfind("ERROR DllStubMain.DLL_PROCESS_ATTACH, hGetProcIDDLL == NULL : ", 0));
        expected.push_back(entries[expected.size()]);
        expected.push_back("ERROR DllStubMain.DLL_PROCESS_ATTACH, dlerror: ./" + kService + ": file too short\n");
        expected.push_back("ERROR " + kService + " non caricabile: lo conservo come " + rejected + " e ripristino " +
                           kBackup + "\n");
        EXPECT_EQ(concat(concat(expected, resolvedLines("OK")), kAttachEnd), entries) << installedByThisHost;
    }
}

// An empty update file is a probe of another process starting at the same moment (or one a
// crash left behind); installing it would leave no working service client.
TEST_F(StubInstallation, EmptyUpdateFileIsNeverInstalled) {
    copyFile(SERVICE_PATH, kService);
    writeFile(kUpdate, "");
    expectInstalledVersionKept(loadedVersion());
    EXPECT_FALSE(fileExists(kBackup));
    std::vector<std::string> expected =
        concat(kAttachStart,
               {"DEBUG " + kUpdate + ": CreateFile=80\n", "ERROR " + kUpdate + " vuoto: non e' un aggiornamento\n"});
    EXPECT_EQ(concat(concat(expected, resolvedLines("OK")), kAttachEnd), logEntries());
}

// An update that vanishes once the probe has seen it (another process took it) is nothing
// pending: the service client is not touched. A dangling link stands for the vanished file.
TEST_F(StubInstallation, VanishedUpdateLeavesTheServiceClientAlone) {
    copyFile(SERVICE_PATH, kService);
    ASSERT_EQ(0, symlink("gone", kUpdate.c_str()));
    expectInstalledVersionKept(loadedVersion());
    EXPECT_FALSE(fileExists(kBackup));
    std::vector<std::string> expected = concat(
        kAttachStart,
        {"DEBUG " + kUpdate + ": CreateFile=80\n", "DEBUG " + kUpdate + " non leggibile (2): nessun aggiornamento\n"});
    EXPECT_EQ(concat(concat(expected, resolvedLines("OK")), kAttachEnd), logEntries());
}

// An empty update file with the probe's mark is a probe a killed process left behind.
TEST_F(StubInstallation, StaleEmptyProbeIsRemoved) {
    copyFile(SERVICE_PATH, kService);
    writeFile(kUpdate, "");
    ASSERT_EQ(0, chmod(kUpdate.c_str(), 0));
    expectInstalledVersionKept(loadedVersion());
    EXPECT_FALSE(fileExists(kUpdate));
    EXPECT_FALSE(fileExists(kBackup));
    std::vector<std::string> expected =
        concat(kAttachStart, {"DEBUG " + kUpdate + ": CreateFile=80\n",
                              "ERROR " + kUpdate + " vuoto, lasciato da un processo interrotto: lo elimino\n"});
    EXPECT_EQ(concat(concat(expected, resolvedLines("OK")), kAttachEnd), logEntries());
}

// An update interrupted after the service client was deleted (a crash, a failed restore)
// leaves the backup without a service client: the next load completes the update when it is
// still pending, and otherwise puts the backup back.
TEST_F(StubInstallation, InterruptedUpdateIsCompletedOrRolledBack) {
    struct Case {
        const char* name;
        bool updatePending;
        const char* loaded;
        std::vector<std::string> attachLines;
    };
    const Case cases[] = {
        {"update pending",
         true,
         kVariantLoaded,
         {"DEBUG " + kUpdate + ": CreateFile=80\n",
          "ERROR " + kService + " mancante: completo l'aggiornamento interrotto\n",
          "DEBUG Rinomino " + kUpdate + " in " + kService + "....\n"}},
        {"nothing pending",
         false,
         kServiceLoaded,
         {"DEBUG Elimino " + kUpdate + "..\n", "ERROR " + kService + " mancante: ripristino " + kBackup + "\n"}},
    };
    for (const Case& each : cases) {
        ScratchDirectory caseDirectory;
        SetUp();
        copyFile(SERVICE_PATH, kBackup);
        if (each.updatePending) copyFile(VARIANT_PATH, kUpdate);
        ProgramRun run = loadedVersion();
        EXPECT_EQ(each.loaded, run.report) << each.name;
        EXPECT_EQ(readFile(each.updatePending ? VARIANT_PATH : SERVICE_PATH), readFile(kService)) << each.name;
        EXPECT_EQ(readFile(SERVICE_PATH), readFile(kBackup)) << each.name;
        EXPECT_FALSE(fileExists(kUpdate)) << each.name;
        EXPECT_EQ(concat(concat(concat(kAttachStart, each.attachLines), resolvedLines("OK")), kAttachEnd), logEntries())
            << each.name;
    }
}

// Files the stub did not make are never touched, whatever their names look like: an
// administrator's dated copy of an update, copies named like the private names of older stubs.
TEST_F(StubInstallation, FilesTheStubDidNotMakeAreNeverTouched) {
    pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_EQ(ended, waitpid(ended, nullptr, 0));
    const std::vector<std::string> foreign = {kUpdate + ".20240315", kUpdate + "." + std::to_string(ended),
                                              kService + ".part." + std::to_string(ended),
                                              kBackup + ".part." + std::to_string(ended)};
    copyFile(SERVICE_PATH, kService);
    for (const std::string& name : foreign) copyFile(VARIANT_PATH, name);
    ProgramRun run = host({"getCodiceTAVO", "build"});
    EXPECT_NE(std::string::npos, run.report.find("\nbuild=ordinary\n")) << run.report;
    EXPECT_EQ(readFile(SERVICE_PATH), readFile(kService));
    for (const std::string& name : foreign) EXPECT_EQ(readFile(VARIANT_PATH), readFile(name)) << name;
    EXPECT_FALSE(fileExists(kUpdate));
    EXPECT_FALSE(fileExists(kBackup));
    EXPECT_EQ(
        concat(concat(concat(kAttachStart, {"DEBUG Elimino " + kUpdate + "..\n"}), resolvedLines("OK")), kAttachEnd),
        logEntries());
}

// What an updating process killed at any step leaves (its lock file, copies cut short) is
// removed by the next load: the lock is the system's and ends with its holder.
TEST_F(StubInstallation, WhatAKilledUpdaterLeftIsRemoved) {
    pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_EQ(ended, waitpid(ended, nullptr, 0));
    const std::string lock = platform::privateName(kService.c_str(), "lock");
    const std::string serviceCopy = platform::partialCopyName(kService.c_str());
    const std::string backupCopy = platform::partialCopyName(kBackup.c_str());
    copyFile(SERVICE_PATH, kService);
    writeFile(lock, std::to_string(ended) + "\n");
    for (const std::string& copy : {serviceCopy, backupCopy}) writeFile(copy, readFile(PARTIAL_PATH).substr(0, 999));
    ProgramRun run = loadedVersion();
    EXPECT_EQ(kServiceLoaded, run.report);
    for (const std::string& name : {lock, serviceCopy, backupCopy}) EXPECT_FALSE(fileExists(name)) << name;
    std::vector<std::string> removed = {"ERROR " + serviceCopy + " lasciato da un processo interrotto: lo elimino\n",
                                        "ERROR " + backupCopy + " lasciato da un processo interrotto: lo elimino\n",
                                        "DEBUG Elimino " + kUpdate + "..\n"};
    EXPECT_EQ(concat(concat(concat(kAttachStart, removed), resolvedLines("OK")), kAttachEnd), logEntries());
}

}  // namespace
