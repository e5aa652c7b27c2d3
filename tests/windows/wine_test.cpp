// The Windows builds run under Wine, each case in a scratch installation of its own: the service
// chain tavotester -> tavo -> tavo2 -> fake Java runtime, the stub's update with real Win32 file
// calls, the daily logs and the code generator from several threads, atrprobe under Wine's
// smart-card service, and p11bridge with the scriptable Cryptoki module.
// GCC 12 reports std::regex's own std::function members as maybe uninitialized (a false
// positive inside libstdc++ at -O2); nothing of ours is concerned.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// This source is built once per Windows target: win64 runs under the host's wine64 (WINE_VM
// empty), win32 under 32-bit Wine in the VM that scripts/win32-vm.sh started (WINE_VM its path).
const std::string kWindowsDir = WINDOWS_DIR;
const std::string kWineVm = WINE_VM;
const bool kWin32 = std::string(WINDOWS_TARGET) == "win32";
const char kChainConfig[] = "fake.jar\r\njvm=1.8\r\njvmdllpath=fakejvm.dll\r\noption=-Xmx64m\r\n";
// A code: the company, a random part starting with a letter, a time stamp; no I or O anywhere.
const char kCodeSymbol[] = "[0-9A-HJ-NP-Z]";

struct WineRun {
    int status = -1;
    std::string output;
};

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// File text with Windows line endings folded to LF.
std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str(), out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool hasLine(const std::string& text, const std::string& line) {
    for (const std::string& candidate : lines(text))
        if (candidate == line) return true;
    return false;
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++found;
    return found;
}

bool sameBytes(const fs::path& a, const fs::path& b) { return fs::exists(a) && readText(a) == readText(b); }

class WineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream state(WINE_STATE);
        ASSERT_TRUE(std::getline(state, prefix_))
            << "no Wine prefix: the windows_wine_prefix_setup fixture did not run";
        if (kWineVm.empty()) {
            ASSERT_TRUE(fs::is_regular_file(WINE_LOADER)) << "wine64 loader not found: " << WINE_LOADER;
        }
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(SCRATCH_DIR) / (std::string(test->test_suite_name()) + "." + test->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

    // Copies a file of the target's build into the installation, under another name if given.
    void install(const std::string& built, const std::string& as = "") {
        fs::path from = fs::path(kWindowsDir) / built;
        ASSERT_TRUE(fs::exists(from)) << "not built: " << from;
        fs::copy_file(from, dir_ / (as.empty() ? from.filename() : fs::path(as)), fs::copy_options::overwrite_existing);
    }

    void write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }

    std::string read(const std::string& name) { return readText(dir_ / name); }
    bool exists(const std::string& name) { return fs::exists(dir_ / name); }

    // The day's log whose name starts with prefix ("tavodll_", "tavobridge_").
    std::string dailyLog(const std::string& prefix) {
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            std::string name = entry.path().filename().string();
            if (std::regex_match(name, std::regex(prefix + "\\d{4}-\\d{2}-\\d{2}\\.log")))
                return readText(entry.path());
        }
        ADD_FAILURE() << "no " << prefix << " log in " << dir_;
        return "";
    }

    std::string wineCommand(const std::string& commandLine, const std::string& environment) {
        std::string command = "WINEPREFIX=" + shellQuoted(prefix_) + " WINEDEBUG=-all " + environment + " " +
                              shellQuoted(WINE_LOADER) + " " + commandLine;
        std::string folder = shellQuoted(dir_.string());
        if (!kWineVm.empty())
            command = shellQuoted(kWineVm) + " exec " + shellQuoted(WINE_VM_STATE) + " " + folder + " " +
                      shellQuoted(command) + (localCopy_ ? " --local" : "");
        return "cd " + folder + " && " + command;
    }

    // Runs a Windows program of the installation; its standard error goes to wine_stderr.txt.
    WineRun wine(const std::string& commandLine, const std::string& environment = "") {
        WineRun run;
        FILE* pipe = popen((wineCommand(commandLine, environment) + " 2>wine_stderr.txt").c_str(), "r");
        if (pipe == nullptr) return run;
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, got);
        int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::string folded;
        for (char c : run.output)
            if (c != '\r') folded += c;
        run.output = folded;
        return run;
    }

    // Waits for a file to appear (present) or go away: up to 30 s, or 3 minutes in the VM,
    // whose software emulation starts a Wine process in seconds and in a minute on a busy machine.
    bool waitFor(const std::string& name, bool present) {
        for (int i = 0; i < (kWineVm.empty() ? 300 : 1800); ++i) {
            if (exists(name) == present) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    std::string prefix_;
    fs::path dir_;
    // Run in a copy of the installation inside the VM (win32), which then replaces it: file
    // operations through the VM's share of the host folder are slow (the 1,600 log entries of
    // the several-threads case take 40 s there, 7 s on the copy). Off while the host takes
    // part in a run.
    bool localCopy_ = true;
};

// ---- tavotester -> tavo -> tavo2 -> fake Java runtime ------------------------------------------

class ServiceChain : public WineTest {
protected:
    void installChain(const std::string& script) {
        install("tester/tavotester.exe");
        install("stub/tavo.dll");
        install("service/tavo2.dll");
        install("tests/jni/fakejvm.dll");
        write("tavodll_classpath.conf", kChainConfig);
        write("fakejvm_script.txt", script);
    }

    // Every attach has its detach, with every local reference deleted; nothing unexpected.
    void expectCleanJvmUse(const std::string& journal) {
        EXPECT_EQ(count(journal, "AttachCurrentThread"), count(journal, "DetachCurrentThread live=0")) << journal;
        EXPECT_EQ(count(journal, "DetachCurrentThread"), count(journal, "DetachCurrentThread live=0")) << journal;
        EXPECT_EQ(journal.find("unexpected"), std::string::npos) << journal;
        EXPECT_EQ(journal.find("not live"), std::string::npos) << journal;
    }

    // The proxy methods called, in order.
    std::vector<std::string> proxyCalls(const std::string& journal) {
        std::vector<std::string> calls;
        for (const std::string& line : lines(journal))
            if (line.rfind("call tavo/client/SendServiceProxy.", 0) == 0) calls.push_back(line.substr(34));
        return calls;
    }
};

TEST_F(ServiceChain, PositiveVerdict) {
    installChain("checkTransport OK\ngetVersionePorta 2.5-test\ngetRideConfig 7\n");
    WineRun run = wine("tavotester.exe");
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("OK", read("CheckDump.txt"));

    std::string log = read("tavotavotester.log");
    EXPECT_TRUE(std::regex_search(
        log, std::regex(std::string("\nCodice tavo generato: '999[A-HJ-NP-Z]") + kCodeSymbol + "{12}'\n")))
        << log;
    for (const char* line : {"dll loaded", "startTavo executed 1", "Versione porta: '2.5-test'", "Ride config: '7'",
                             "CheckTransportResponse: OK", "Esito: POSITIVO", "stopTavo executed", "return =0"})
        EXPECT_TRUE(hasLine(log, line)) << line << "\n" << log;
    EXPECT_EQ("FreeLibrary hGetProcIDDLL...OK", lines(log).back());

    std::string journal = read("fakejvm_journal.txt");
    std::vector<std::string> journalLines = lines(journal);
    ASSERT_GE(journalLines.size(), 3u);
    EXPECT_EQ("JNI_CreateJavaVM version=0x10002 options=2 ignoreUnrecognized=1", journalLines[0]);
    EXPECT_EQ("option -Djava.class.path=fake.jar extra=null", journalLines[1]);
    EXPECT_EQ("option -Xmx64m extra=null", journalLines[2]);
    EXPECT_EQ(
        (std::vector<std::string>{"startTavo", "getVersionePorta", "getRideConfig", "checkTransport", "stopTavo"}),
        proxyCalls(journal));
    expectCleanJvmUse(journal);

    std::string serviceLog = dailyLog("tavodll_");
    for (const char* entry : {"DEBUG - startTavo.I", "ERROR - loadJVM invoked", "DEBUG - JVM CARICATA CON SUCCESSO",
                              "DEBUG - checkTransport.U", "DEBUG - stopTavo.U"})
        EXPECT_NE(serviceLog.find(entry), std::string::npos) << entry;
    EXPECT_TRUE(exists("stdout.log"));
    EXPECT_TRUE(exists("stderr.log"));
}

TEST_F(ServiceChain, NegativeVerdictsAppendToTheGivenDumpFile) {
    installChain("checkTransport KO 12\n");
    fs::create_directories(dir_ / "verdetti");
    EXPECT_EQ(253, wine("tavotester.exe 'verdetti\\esito.txt'").status);  // -3
    EXPECT_EQ(253, wine("tavotester.exe 'verdetti\\esito.txt'").status);
    EXPECT_EQ("KO 12KO 12", read("verdetti/esito.txt"));
    EXPECT_FALSE(exists("CheckDump.txt"));
    std::string log = read("tavotavotester.log");
    EXPECT_EQ(2u, count(log, "Esito: NEGATIVO\n"));
    EXPECT_EQ(2u, count(log, "return =-3\n"));
    // The second run found the virtual machine to create again: one per process.
    EXPECT_EQ(2u, count(read("fakejvm_journal.txt"), "JNI_CreateJavaVM"));

    // A dump file that cannot be opened is reported on the tester's own standard output, which
    // the service client leaves alone (the tester shares the C runtime's streams with it).
    WineRun run = wine("tavotester.exe 'mancante\\esito.txt'");
    EXPECT_EQ(253, run.status);
    EXPECT_EQ(2u, count(run.output, "The file 'mancante\\esito.txt' was not opened\n")) << run.output;
    EXPECT_EQ(0u, count(read("stdout.log"), "was not opened")) << read("stdout.log");
}

TEST_F(ServiceChain, FailuresInsideTheServiceAreNegativeNotFatal) {
    installChain("checkTransport throw\nmissing.getVersionePorta 1\ngetRideConfig throw\n");
    EXPECT_EQ(253, wine("tavotester.exe").status);
    EXPECT_EQ("(null)", read("CheckDump.txt"));
    std::string log = read("tavotavotester.log");
    for (const char* line : {"Versione porta: '(null)'", "Ride config: '0'", "CheckTransportResponse: (null)",
                             "Esito: NEGATIVO", "stopTavo executed", "return =-3"})
        EXPECT_TRUE(hasLine(log, line)) << line << "\n" << log;
    std::string serviceLog = dailyLog("tavodll_");
    for (const char* entry :
         {"ERROR - Metodo getVersionePorta non trovato", "DEBUG - getRideConfig, ExceptionOccurred!",
          "ERROR - checkTransport: exception durante l'esecuzione"})
        EXPECT_NE(serviceLog.find(entry), std::string::npos) << entry;
    expectCleanJvmUse(read("fakejvm_journal.txt"));
}

TEST_F(ServiceChain, StartTavoFalseEndsTheRun) {
    installChain("startTavo false\n");
    EXPECT_EQ(255, wine("tavotester.exe").status);  // -1
    EXPECT_EQ("ERR startTavo failed", read("CheckDump.txt"));
    std::string log = read("tavotavotester.log");
    EXPECT_TRUE(hasLine(log, "startTavo executed 0"));
    EXPECT_TRUE(hasLine(log, "startTavo failed"));
    EXPECT_EQ(std::string::npos, log.find("got load stopTavo"));
    EXPECT_EQ("FreeLibrary hGetProcIDDLL...OK", lines(log).back());
    std::string journal = read("fakejvm_journal.txt");
    EXPECT_EQ(std::vector<std::string>{"startTavo"}, proxyCalls(journal));
    expectCleanJvmUse(journal);
}

TEST_F(ServiceChain, NoVirtualMachineMeansStartFails) {
    installChain("create -1\n");
    EXPECT_EQ(255, wine("tavotester.exe").status);
    EXPECT_EQ("ERR startTavo failed", read("CheckDump.txt"));
    std::string serviceLog = dailyLog("tavodll_");
    EXPECT_NE(serviceLog.find("ERROR - IMPOSSIBILE CARICARE JVM"), std::string::npos);
    EXPECT_NE(serviceLog.find("ERROR - getEnv: JVM nulla"), std::string::npos);
    EXPECT_TRUE(proxyCalls(read("fakejvm_journal.txt")).empty());

    // Without its configuration file the service does not even look for a runtime.
    fs::remove(dir_ / "tavodll_classpath.conf");
    fs::remove(dir_ / "fakejvm_journal.txt");
    EXPECT_EQ(255, wine("tavotester.exe").status);
    EXPECT_NE(dailyLog("tavodll_").find("ERROR - impossibile aprire il file tavodll_classpath.conf (2)"),
              std::string::npos);
    EXPECT_FALSE(exists("fakejvm_journal.txt"));
}

TEST_F(ServiceChain, ThreadThatCannotAttachFailsTheStart) {
    installChain("attach -1\n");
    EXPECT_EQ(255, wine("tavotester.exe").status);
    EXPECT_EQ("ERR startTavo failed", read("CheckDump.txt"));
    std::string serviceLog = dailyLog("tavodll_");
    EXPECT_NE(serviceLog.find("ERROR - AttachCurrentThread ha fallito, result=-1\n"), std::string::npos) << serviceLog;
    EXPECT_NE(serviceLog.find("ERROR - initSendServiceProxy: env=NULL !\n"), std::string::npos) << serviceLog;
    std::string journal = read("fakejvm_journal.txt");
    EXPECT_TRUE(proxyCalls(journal).empty());
    // Even the failed call gives its thread back.
    EXPECT_EQ(1u, count(journal, "DetachCurrentThread"));
}

TEST_F(ServiceChain, MissingStubStopsBeforeAnyDump) {
    install("tester/tavotester.exe");
    EXPECT_EQ(255, wine("tavotester.exe").status);
    std::string log = read("tavotavotester.log");
    EXPECT_TRUE(hasLine(log, "failed with error 126")) << log;
    EXPECT_TRUE(hasLine(log, "dll not loaded")) << log;
    EXPECT_FALSE(exists("CheckDump.txt"));
}

// ---- The stub's update, with the real Win32 file calls -----------------------------------------

class StubUpdate : public ServiceChain {
protected:
    // The ordinary service client as tavo2.dll and, if asked, the marked build as the update.
    void installUpdateCase(bool withService, bool withUpdate) {
        installChain("checkTransport OK\ngetVersionePorta build\n");
        fs::remove(dir_ / "tavo2.dll");
        if (withService) install("service/tavo2.dll");
        if (withUpdate) install("tests/windows/tavo2_marked.dll", "tavo2upd.dll");
    }
    fs::path built(const std::string& relative) { return fs::path(kWindowsDir) / relative; }
    // Runs the tester while another process holds the file open (sharing: "" or "read").
    WineRun whileHeld(const std::string& file, const std::string& sharing) {
        install("tests/windows/hold_file.exe");
        localCopy_ = false;
        std::string command = wineCommand("hold_file.exe " + file + " " + sharing, "") + " >/dev/null 2>&1 &";
        EXPECT_EQ(0, std::system(command.c_str()));
        EXPECT_TRUE(waitFor(file + ".held", true));
        WineRun run = wine("tavotester.exe");
        write(file + ".release", "");
        EXPECT_TRUE(waitFor(file + ".held", false));
        localCopy_ = true;
        return run;
    }
    std::string forwardedBuild() {
        std::string log = read("tavotavotester.log");
        std::regex version("Versione porta: '(build=[a-z]+)'\n");
        std::string last;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), version); it != std::sregex_iterator(); ++it)
            last = (*it)[1];
        return last;
    }
};

TEST_F(StubUpdate, NoPendingUpdateLeavesNoProbeBehind) {
    installUpdateCase(true, false);
    EXPECT_EQ(0, wine("tavotester.exe").status);
    EXPECT_FALSE(exists("tavo2upd.dll"));
    EXPECT_FALSE(exists("tavo2bck.dll"));
    EXPECT_EQ("build=ordinary", forwardedBuild());
    std::string stubLog = dailyLog("tavobridge_");
    EXPECT_NE(stubLog.find("] DEBUG - Elimino tavo2upd.dll..\n"), std::string::npos) << stubLog;
}

TEST_F(StubUpdate, UpdateReplacesTheServiceAndOverwritesTheBackup) {
    installUpdateCase(true, true);
    write("tavo2bck.dll", "a backup from long ago");
    EXPECT_EQ(0, wine("tavotester.exe").status);
    EXPECT_EQ("build=marked", forwardedBuild());
    EXPECT_TRUE(sameBytes(dir_ / "tavo2.dll", built("tests/windows/tavo2_marked.dll")));
    EXPECT_TRUE(sameBytes(dir_ / "tavo2bck.dll", built("service/tavo2.dll")));
    EXPECT_FALSE(exists("tavo2upd.dll"));
    std::string stubLog = dailyLog("tavobridge_");
    for (const char* entry :
         {"DEBUG - tavo2upd.dll: CreateFile=80\n", "DEBUG - tavo2.dll backup OK; cancello tavo2.dll....\n",
          "DEBUG - Rinomino tavo2upd.dll in tavo2.dll....\n"})
        EXPECT_NE(stubLog.find(entry), std::string::npos) << entry;

    // The next load finds nothing pending and keeps the new version.
    EXPECT_EQ(0, wine("tavotester.exe").status);
    EXPECT_EQ("build=marked", forwardedBuild());
    EXPECT_TRUE(sameBytes(dir_ / "tavo2bck.dll", built("service/tavo2.dll")));
}

TEST_F(StubUpdate, UpdateWithoutServiceClientStaysPending) {
    installUpdateCase(false, true);
    EXPECT_EQ(255, wine("tavotester.exe").status);
    EXPECT_TRUE(sameBytes(dir_ / "tavo2upd.dll", built("tests/windows/tavo2_marked.dll")));
    EXPECT_FALSE(exists("tavo2.dll"));
    std::string stubLog = dailyLog("tavobridge_");
    EXPECT_NE(stubLog.find("DEBUG - tavo2.dll backup Error, impossibile aggiornare la DLL!\n"), std::string::npos);
    EXPECT_NE(stubLog.find("ERROR - DllStubMain.DLL_PROCESS_ATTACH, hGetProcIDDLL == NULL : 126 !\n"),
              std::string::npos);
    EXPECT_TRUE(hasLine(read("tavotavotester.log"), "dll not loaded"));
}

// Another process holds the update open without sharing: it cannot be moved, the service
// client stays as it is, and once the update is free the next load applies it.
TEST_F(StubUpdate, HeldUpdateStaysPending) {
    installUpdateCase(true, true);
    WineRun held = whileHeld("tavo2upd.dll", "");
    EXPECT_EQ(0, held.status);
    EXPECT_EQ("build=ordinary", forwardedBuild());
    EXPECT_TRUE(sameBytes(dir_ / "tavo2.dll", built("service/tavo2.dll")));
    EXPECT_TRUE(sameBytes(dir_ / "tavo2upd.dll", built("tests/windows/tavo2_marked.dll")));
    std::string stubLog = dailyLog("tavobridge_");
    EXPECT_NE(stubLog.find("ERROR - Aggiornamento di tavo2.dll non riuscito ("), std::string::npos) << stubLog;

    EXPECT_EQ(0, wine("tavotester.exe").status);
    EXPECT_EQ("build=marked", forwardedBuild());
    EXPECT_FALSE(exists("tavo2upd.dll"));
}

// A service client another host has loaded cannot be replaced: it stays intact (no restore over
// it), and the update waits for a load when it is free.
TEST_F(StubUpdate, ServiceClientInUseKeepsTheUpdatePending) {
    installUpdateCase(true, true);
    WineRun held = whileHeld("tavo2.dll", "read");
    EXPECT_EQ(0, held.status);
    EXPECT_EQ("build=ordinary", forwardedBuild());
    EXPECT_TRUE(sameBytes(dir_ / "tavo2.dll", built("service/tavo2.dll")));
    EXPECT_TRUE(sameBytes(dir_ / "tavo2upd.dll", built("tests/windows/tavo2_marked.dll")));
    std::string stubLog = dailyLog("tavobridge_");
    EXPECT_NE(stubLog.find("ERROR - Aggiornamento di tavo2.dll non riuscito ("), std::string::npos) << stubLog;
    EXPECT_EQ(std::string::npos, stubLog.find("ripristino")) << stubLog;

    EXPECT_EQ(0, wine("tavotester.exe").status);
    EXPECT_EQ("build=marked", forwardedBuild());
}

// A folder left without a service client (by hand, or by an older stub) holding the backup: the
// next load completes the update when it is pending, and otherwise puts the backup back. An empty
// update file is no update (the stub's probes go away with their handle, even in a killed process).
TEST_F(StubUpdate, InterruptedUpdatesAndStaleProbesAreCleanedUp) {
    struct Case {
        const char* name;
        bool update;
        bool staleProbe;
        const char* build;
        const char* logged;
    };
    const Case cases[] = {
        {"update pending", true, false, "build=marked",
         "ERROR - tavo2.dll mancante: completo l'aggiornamento interrotto\n"},
        {"nothing pending", false, false, "build=ordinary", "ERROR - tavo2.dll mancante: ripristino tavo2bck.dll\n"},
        {"empty update file", false, true, "build=ordinary", "ERROR - tavo2upd.dll vuoto: non e' un aggiornamento\n"},
    };
    for (const Case& each : cases) {
        SetUp();
        installUpdateCase(each.staleProbe, each.update);
        if (!each.staleProbe) install("service/tavo2.dll", "tavo2bck.dll");
        if (each.staleProbe) write("tavo2upd.dll", "");
        EXPECT_EQ(0, wine("tavotester.exe").status) << each.name;
        EXPECT_EQ(each.build, forwardedBuild()) << each.name;
        EXPECT_EQ(each.staleProbe, exists("tavo2upd.dll")) << each.name;
        std::string stubLog = dailyLog("tavobridge_");
        EXPECT_NE(stubLog.find(each.logged), std::string::npos) << each.name << "\n" << stubLog;
    }
}

// The update under faults with the real Win32 file calls, a subset of the linux64 sweep: from
// each starting state every operation in turn fails (access denied, a sharing violation) or is
// the last before a kill, in the stub built with the fault seam; then the product stub must
// load the old version or the new, and neither is lost.
class StubUpdateFaults : public StubUpdate {
protected:
    struct State {
        const char* name;
        bool service, update, backup, leftByKilledHolder;
    };
    void lay(const State& state) {
        SetUp();
        installUpdateCase(state.service, false);
        if (state.backup) install("service/tavo2.dll", "tavo2bck.dll");
        if (state.update) install("tests/windows/tavo2_marked.dll", "tavo2upd.dll");
        // A process identity Wine has not handed out in this prefix: the lock's holder is gone.
        if (state.leftByKilledHolder) {
            write("tavo2.dll.~tavo~lock", "99996\r\n");
            write("tavo2.dll.~tavo~part", "MZ cut short");
            write("tavo2bck.dll.~tavo~part", "MZ cut short");
        }
    }
    // The update's own files (lock, side files, a rejected version): none has a use afterwards.
    std::vector<std::string> strayFiles() {
        std::vector<std::string> stray;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            std::string name = entry.path().filename().string();
            if (name.find(".~tavo~") != std::string::npos) stray.push_back(name);
        }
        return stray;
    }
};

TEST_F(StubUpdateFaults, EveryOperationFailsOrIsKilledInTurn) {
    const State states[] = {{"update pending", true, true, false, false},
                            {"service client lost, update pending", false, true, true, false},
                            {"left by a killed holder", true, true, false, true}};
    // On win32 every Wine run costs seconds of software emulation: the first state only, each
    // operation in turn the last before a kill.
    const size_t stateCount = kWin32 ? 1 : std::size(states);
    const std::vector<const char*> actions =
        kWin32 ? std::vector<const char*>{"kill-after"} : std::vector<const char*>{"denied", "other", "kill-after"};
    for (const State& state : std::vector<State>(states, states + stateCount)) {
        long reached = 0;
        for (long k = 1;; ++k) {
            bool any = false;
            for (const char* action : actions) {
                std::string context = std::string(state.name) + ", plan " + std::to_string(k) + ":" + action;
                lay(state);
                install("tests/windows/tavo_faults.dll", "tavo.dll");
                WineRun faulted = wine("tavotester.exe", "VANTREL_FAULT_PLAN=" + std::to_string(k) + ":" + action +
                                                             " VANTREL_FAULT_JOURNAL=fault_journal.txt");
                std::vector<std::string> journal = lines(read("fault_journal.txt"));
                if (static_cast<long>(journal.size()) < k) continue;
                any = true;
                ++reached;
                if (std::string(action) == "kill-after") {
                    EXPECT_EQ(137, faulted.status) << context;
                }
                // A failed load gives the service client up for the backup.
                bool givenUp = dailyLog("tavobridge_").find(" non caricabile: ") != std::string::npos;

                install("stub/tavo.dll");
                fs::remove(dir_ / "tavotavotester.log");
                context += "\nfaulted run:\n" + read("fault_journal.txt") + dailyLog("tavobridge_");
                EXPECT_EQ(0, wine("tavotester.exe").status) << context;
                std::string build = forwardedBuild();
                if (givenUp) {
                    EXPECT_TRUE(build == "build=ordinary" || build == "build=marked") << context;
                } else {
                    EXPECT_EQ("build=marked", build) << context;
                }
                EXPECT_TRUE(
                    sameBytes(dir_ / "tavo2.dll",
                              built(build == "build=marked" ? "tests/windows/tavo2_marked.dll" : "service/tavo2.dll")))
                    << context;
                EXPECT_FALSE(exists("tavo2upd.dll") && !read("tavo2upd.dll").empty()) << context;
                // The version given up is kept aside for the administrator.
                std::vector<std::string> stray = strayFiles();
                if (givenUp)
                    stray.erase(std::remove(stray.begin(), stray.end(), "tavo2.dll.~tavo~rejected"), stray.end());
                EXPECT_TRUE(stray.empty()) << context;
            }
            if (!any) break;
        }
        std::printf("%s: %ld injections reached\n", state.name, reached);
    }
}

// Hosts starting together on a pending update, in every other round some killed at random
// moments, then one clean host: the linux64 race at a smaller scale over the Win32 calls (the
// lock and the probe go away with a killed process's handles).
TEST_F(StubUpdateFaults, HostsStartingTogetherSomeKilledAtRandomMoments) {
    // The hosts are host processes killed from here; 32-bit Wine runs only inside the VM.
    if (kWin32) GTEST_SKIP() << "win32: hosts run inside the VM, where this test cannot kill them";
    std::mt19937 random(std::random_device{}());
    const int rounds = 6, hosts = 4;
    for (int round = 0; round < rounds; ++round) {
        bool kills = round % 2 == 1;
        std::string context = "round " + std::to_string(round);
        lay({"update pending", true, true, false, false});
        std::vector<pid_t> started;
        for (int i = 0; i < hosts; ++i) {
            pid_t child = fork();
            if (child == 0) {
                int quiet = open("/dev/null", O_WRONLY);
                dup2(quiet, 1);
                dup2(quiet, 2);
                if (chdir(dir_.c_str()) != 0) _exit(126);
                setenv("WINEPREFIX", prefix_.c_str(), 1);
                setenv("WINEDEBUG", "-all", 1);
                execl(WINE_LOADER, WINE_LOADER, "tavotester.exe", static_cast<char*>(nullptr));
                _exit(127);
            }
            started.push_back(child);
        }
        std::set<pid_t> killed;
        if (kills) {
            auto began = std::chrono::steady_clock::now();
            std::vector<std::pair<long, pid_t>> moments;
            for (pid_t host : started)
                if (random() % 2 == 0) moments.push_back({static_cast<long>(random() % 3000), host});
            std::sort(moments.begin(), moments.end());
            for (const auto& moment : moments) {
                std::this_thread::sleep_until(began + std::chrono::milliseconds(moment.first));
                kill(moment.second, SIGKILL);
                killed.insert(moment.second);
            }
        }
        for (pid_t host : started) {
            int status = 0;
            while (waitpid(host, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFSIGNALED(status)) continue;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << context;
        }
        std::string stubLog = dailyLog("tavobridge_");
        if (!kills) {
            EXPECT_EQ(1u, count(stubLog, "Rinomino tavo2upd.dll in tavo2.dll")) << context << "\n" << stubLog;
        }

        fs::remove(dir_ / "tavotavotester.log");
        EXPECT_EQ(0, wine("tavotester.exe").status) << context;
        EXPECT_EQ("build=marked", forwardedBuild()) << context << "\n" << stubLog;
        EXPECT_TRUE(sameBytes(dir_ / "tavo2.dll", built("tests/windows/tavo2_marked.dll"))) << context;
        EXPECT_TRUE(sameBytes(dir_ / "tavo2bck.dll", built("service/tavo2.dll"))) << context;
        EXPECT_FALSE(exists("tavo2upd.dll")) << context;
        EXPECT_TRUE(strayFiles().empty()) << context;
        std::printf("%s: %zu of %d hosts killed\n", context.c_str(), killed.size(), hosts);
    }
}

// ---- Daily logs and the code generator from several threads ------------------------------------

class ServiceLog : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        install("stub/tavo.dll");
        install("service/tavo2.dll");
        install("tests/windows/service_harness.exe");
    }
};

// Enough entries at once that the C runtime's append (seek to the end, then write) lost some
// in most runs.
TEST_F(ServiceLog, CodesFromSeveralThreadsAndTheirLogEntries) {
    const size_t threadCount = 8, callsPerThread = 200;
    ASSERT_EQ(0, wine("service_harness.exe 8 200 ABC").status);
    std::vector<std::string> results = lines(read("codes.txt"));
    ASSERT_EQ(threadCount * callsPerThread, results.size());
    std::set<std::string> codes, threads;
    std::regex codeLine(std::string("([0-9A-F]{8}) (ABC[A-HJ-NP-Z]") + kCodeSymbol + "{12})");
    for (const std::string& line : results) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, codeLine)) << line;
        threads.insert(match[1]);
        codes.insert(match[2]);
    }
    EXPECT_EQ(results.size(), codes.size()) << "two threads drew the same code";
    EXPECT_EQ(threadCount, threads.size());

    // Every line of both logs is one whole entry with its prefix: no torn or mixed writes.
    std::regex serviceEntry("[0-9A-F]{8} \\[\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}:\\d{3}\\] (DEBUG|ERROR) - .*");
    std::string serviceLog = dailyLog("tavodll_");
    for (const std::string& line : lines(serviceLog)) EXPECT_TRUE(std::regex_match(line, serviceEntry)) << line;
    EXPECT_EQ(results.size(), count(serviceLog, "] DEBUG - getCodiceTAVO('ABC')='ABC"));
    std::regex stubEntry("\\[\\d{2}/\\d{2}/\\d{4} \\d{2}:\\d{2}:\\d{2}:\\d{3}\\] (DEBUG|WARN|ERROR) - .*");
    for (const std::string& line : lines(dailyLog("tavobridge_")))
        EXPECT_TRUE(std::regex_match(line, stubEntry)) << line;
    // Each worker's entries carry its own thread identifier.
    for (const std::string& thread : threads) EXPECT_NE(serviceLog.find(thread + " ["), std::string::npos) << thread;
    // Wine may start threads of its own in the process; ours are among those attached.
    EXPECT_LE(threadCount, count(serviceLog, "DEBUG - DLL_THREAD_ATTACH\n"));
}

TEST_F(ServiceLog, EntriesLandInTheFileOfTheirDay) {
    ASSERT_EQ(0, wine("service_harness.exe 1 1 XYZ").status);
    for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
        std::smatch name;
        std::string file = entry.path().filename().string();
        if (!std::regex_match(file, name, std::regex("(tavodll|tavobridge)_(\\d{4})-(\\d{2})-(\\d{2})\\.log")))
            continue;
        std::string day = "[" + name[4].str() + "/" + name[3].str() + "/" + name[2].str() + " ";
        // An entry written just before midnight may sit in the previous day's file only.
        for (const std::string& line : lines(readText(entry.path())))
            EXPECT_NE(line.find(day), std::string::npos) << file << ": " << line;
    }
}

TEST_F(ServiceLog, CompanyCodeOfWrongLengthGivesNull) {
    ASSERT_EQ(0, wine("service_harness.exe 2 2 ABCD").status);
    std::vector<std::string> results = lines(read("codes.txt"));
    ASSERT_EQ(4u, results.size());
    for (const std::string& line : results) EXPECT_EQ("null", line.substr(9)) << line;
    EXPECT_EQ(4u, count(dailyLog("tavodll_"), "getCodiceTAVO: codiceAzienda lungo 4 caratteri invece di 3 :'ABCD'\n"));
}

TEST_F(ServiceLog, SendExportsCarryFiveArgumentsThroughTheStub) {
    ASSERT_EQ(0, wine("service_harness.exe echo 'Dott. Rossi' 'ricetta 42'").status);
    EXPECT_EQ(
        "sendMessageS 55 66\nSERVIZIO=DLLECHO\nMITTENTE=Dott. Rossi\nMESSAGGIO=ricetta 42\n"
        "sendMessageA 55 66\nSERVIZIO=DLLECHO\nMITTENTE=Dott. Rossi\nMESSAGGIO=ricetta 42\n",
        read("echo.txt"));
    EXPECT_EQ(2u, count(read("stdout.log"), "MESSAGGIO=ricetta 42\n"));
}

// ---- atrprobe under Wine's smart-card service ---------------------------------------------------

TEST_F(WineTest, AtrProbeAnswersWithAPcscCode) {
    install("atr/atrprobe.dll");
    install("tests/windows/atr_harness.exe");
    for (const char* verbose : {"0", "1"}) {
        WineRun run = wine(std::string("atr_harness.exe ") + verbose);
        ASSERT_EQ(0, run.status) << run.output;
        std::smatch match;
        ASSERT_TRUE(std::regex_search(
            run.output, match, std::regex("\ngetatrstr=0x([0-9A-F]{8}) length=(-?\\d+) atr=\\w* guard=(\\w+)\n")))
            << run.output;
        std::string code = match[1];
        int length = std::stoi(match[2]);
        EXPECT_EQ("intact", match[3].str());
        // Success with an ATR of 1 to 32 bytes, or a PC/SC code (facility 0x10) and no bytes.
        size_t errorLines = 0;
        if (code == "00000000") {
            EXPECT_TRUE(length >= 1 && length <= 32) << length;
            EXPECT_NE(run.output.find("\n returned atr \n"), std::string::npos);
        } else {
            EXPECT_EQ("8010", code.substr(0, 4)) << code;
            EXPECT_EQ(0, length);
            errorLines += verbose[0] == '1';
        }
        ASSERT_TRUE(std::regex_search(run.output, match, std::regex("\ncsgetatr=0x([0-9A-F]{8})\n"))) << run.output;
        if (match[1] != "00000000") {
            EXPECT_EQ("8010", match[1].str().substr(0, 4));
            ++errorLines;  // csgetatr reports its failure whatever the verbose flag
        }
        EXPECT_EQ(errorLines, count(run.output, "]: Program terminated abnormally.\n")) << run.output;
    }
}

// ---- atrprobe over a winscard.dll that answers from a script ------------------------------------

// The calls as the library received them, so a wrong calling convention, argument order or
// record layout of the build shows here; then the lengths and codes of the answers it cannot
// trust. Context 5c and the "open" line come from the scripted library.
TEST_F(WineTest, AtrProbeOverAScriptedWinscard) {
    install("atr/atrprobe.dll");
    install("tests/windows/atr_harness.exe");
    install("tests/atr/winscard.dll");
    const std::string atr19 = "3B8E800180318066B1840C016E01830090001C";
    const std::string atr40 = "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABBBCBDBEBFC0C1C2C3C4C5C6C7";
    std::string elevenReaders, tenScanned = "SCardGetStatusChangeA timeout=ffffffff count=10";
    for (int i = 1; i <= 10; ++i) {
        const std::string name = (i < 10 ? "Reader 0" : "Reader ") + std::to_string(i);
        elevenReaders += (i < 10 ? "empty " : "card " + atr19 + " ") + name + "\n";
        tenScanned += " [" + name + " current=0 event=0 atr=0]";
    }
    elevenReaders += "card 3B021450 Reader 11\n";
    const std::string released = "SCardReleaseContext context=5c";
    const std::string nothingOpen = "open contexts=0 connections=0";
    struct Case {
        std::string name, script, answer;
        std::vector<std::string> calls;  // every call when exact, else lines that must be among them
        bool exact;
    };
    const std::vector<Case> cases = {
        {"one-card",
         "card " + atr19 + " Reader A\n",
         "0x00000000 length=19 atr=" + atr19,
         {"SCardEstablishContext scope=0", "SCardListReadersA groups=null buffer=null length=0",
          "SCardListReadersA groups=null buffer=set length=10",
          "SCardListCardsA atr=null interfaces=null count=0 buffer=null length=0",
          "SCardListCardsA atr=null interfaces=null count=0 buffer=set length=1",
          "SCardListReaderGroupsA buffer=null length=0", "SCardListReaderGroupsA buffer=set length=22",
          "SCardListReadersA groups=null buffer=null length=0", "SCardListReadersA groups=null buffer=set length=10",
          "SCardGetStatusChangeA timeout=ffffffff count=1 [Reader A current=0 event=0 atr=0]",
          "SCardConnectA reader=Reader A share=2 protocols=3", "SCardStatusA name=200 atr=32",
          "SCardDisconnect disposition=0", released, nothingOpen},
         true},
        // Ten reader records: the eleventh reader is listed but not scanned.
        {"eleven-readers",
         elevenReaders,
         "0x00000000 length=19 atr=" + atr19,
         {tenScanned, "SCardConnectA reader=Reader 10 share=2 protocols=3", released, nothingOpen},
         false},
        {"claimed-lengths",
         "card " + atr19 + " Reader A\nclaim 9 4294967295\n",
         "0x80100008 length=0 atr=",
         {"SCardStatusA name=200 atr=32", released, nothingOpen},
         false},
        {"atr-of-40", "card " + atr40 + " Reader A\n", "0x80100008 length=0 atr=", {released, nothingOpen}, false},
        {"absurd-list",
         "card " + atr19 + " Reader A\nlying-listing 0 FFFFFFFF\n",
         "0x0000000E length=0 atr=",
         {"SCardEstablishContext scope=0", "SCardListReadersA groups=null buffer=null length=0", released, nothingOpen},
         true},
        {"growing-list",
         "card " + atr19 + " Reader A\nlying-listing 6 4\n",
         "0x80100008 length=0 atr=",
         {released, nothingOpen},
         false},
        {"no-service", "establish 8010001D\n", "0x8010001D length=0 atr=", {"SCardEstablishContext scope=0"}, true},
    };
    std::string commandLine = "atr_harness.exe 1";
    for (const Case& c : cases) {
        write(c.name, c.script);
        commandLine += " " + c.name;
    }
    WineRun run = wine(commandLine, "WINEDLLOVERRIDES=winscard=n");
    ASSERT_EQ(0, run.status) << run.output;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t at = run.output.find("\ncase " + c.name);
        ASSERT_NE(std::string::npos, at) << run.output;
        const size_t answer = run.output.find("\ngetatrstr=", at) + 1;
        EXPECT_EQ("getatrstr=" + c.answer + " guard=intact",
                  run.output.substr(answer, run.output.find('\n', answer) - answer))
            << run.output.substr(at);
        const std::vector<std::string> calls = lines(read(c.name + ".calls"));
        if (c.exact) {
            EXPECT_EQ(c.calls, calls);
            continue;
        }
        for (const std::string& call : c.calls)
            EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), call)) << call;
        for (const std::string& call : calls) EXPECT_EQ(std::string::npos, call.find("Reader 11 ")) << call;
    }
}

// ---- p11bridge with the scriptable Cryptoki module ---------------------------------------------

class BridgeModule : public WineTest {
protected:
    void SetUp() override {
        WineTest::SetUp();
        install("bridge/p11bridge.dll");
        install("tests/bridge/p11script.dll");
        install("tests/windows/bridge_harness.exe");
    }
    // The module by its full Windows path (Wine's Z: drive is the Unix root).
    std::string modulePath() {
        std::string path = "Z:" + (dir_ / "p11script.dll").string();
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }
    WineRun harness(const std::string& script, const std::string& steps, const std::string& module = "",
                    const std::string& environment = "") {
        write("script.txt", script);
        fs::remove(dir_ / "record.txt");
        return wine(
            "bridge_harness.exe p11bridge.dll " + shellQuoted(module.empty() ? modulePath() : module) + " " + steps,
            "P11SCRIPT_FILE=script.txt P11SCRIPT_RECORD=record.txt " + environment);
    }
};

TEST_F(BridgeModule, InitialiseReadInformationListSlotsFinalise) {
    WineRun run = harness(
        "info.cryptokiVersion 2.40\ninfo.flags 0x80000001\ninfo.manufacturerID Wine maker\n"
        "info.libraryVersion 3.7\nslots 1 0xFFFFFFFF 7\nslots.noToken 7\n",
        "names onload load init info slots allslots final onunload");
    ASSERT_EQ(0, run.status) << run.output;
    const std::string module = "it/vantrel/pkcs11/nat/NativePKCS11()";
    const std::string slot = "it/vantrel/pkcs11/nat/NativePKCS11Slot";
    // "function list": Java is handed the module's list at its address, sign-extended on win32
    // (a 32-bit pointer) and whole on win64.
    // 32-bit CK_ULONG values reach Java with all their bits: 0xFFFFFFFF as -1, the flags as is.
    // The classes found once (PKCS11Info, NativePKCS11Slot) are all given back at unload.
    // win32 exports the natives only under the decorated stdcall name a 32-bit Java runtime
    // looks up, with no plain alias; win64 has no decoration.
    EXPECT_EQ(
        std::string(kWin32 ? "names: plain absent, decorated found\n" : "names: plain found, decorated absent\n") +
            "onload: version 65542\n"
            "load: function list\n"
            "init: ok\n"
            "info: it/vantrel/pkcs11/PKCS11Info(552, \"Wine maker                      \", -2147483647, "
            "\"Scriptable module               \", 775)\n"
            "slots: " +
            slot + "[2]{" + slot + "(" + module + ", 1), " + slot + "(" + module +
            ", -1)}\n"
            "allslots: " +
            slot + "[3]{" + slot + "(" + module + ", 1), " + slot + "(" + module + ", -1), " + slot + "(" + module +
            ", 7)}\n"
            "final: ok\n"
            "onunload: 2 weak references, 0 left\n",
        run.output);
    // The second C_GetFunctionList is the harness's own, for the address Java must be handed.
    EXPECT_EQ(
        "C_GetFunctionList\n"
        "C_GetFunctionList\n"
        "C_Initialize args=null\n"
        "C_GetInfo\n"
        "C_GetSlotList tokenPresent=1 list=null count=0\n"
        "C_GetSlotList tokenPresent=1 list=set count=2\n"
        "C_GetSlotList tokenPresent=0 list=null count=0\n"
        "C_GetSlotList tokenPresent=0 list=set count=3\n"
        "C_Finalize reserved=null\n",
        read("record.txt"));
}

TEST_F(BridgeModule, ModuleFailuresBecomeExceptions) {
    WineRun run = harness("rv.C_Initialize 0x30\n", "load init");
    EXPECT_EQ(
        "load: function list\njournal: Throw it/vantrel/pkcs11/PKCS11Exception(48)\n"
        "init: exception it/vantrel/pkcs11/PKCS11Exception(48)\n",
        run.output);

    // Vendor-range answers, a slot count that grows between the two calls, an all-ones count.
    run = harness("rv.C_GetInfo 0x80000005\nslots 1 2\nslots.growBy 3\n", "load init info slots final");
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(run.output.find("info: exception it/vantrel/pkcs11/PKCS11Exception(\"Internal error\")\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("slots: exception it/vantrel/pkcs11/PKCS11Exception(336)\n"), std::string::npos)
        << run.output;
    run = harness("slots.count 0xFFFFFFFF\n", "load init slots final");
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(run.output.find("slots: exception it/vantrel/pkcs11/PKCS11Exception("), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("final: ok\n"), std::string::npos) << run.output;

    run = harness("", "load", "Z:\\no\\such\\module.dll");
    EXPECT_EQ("load: exception it/vantrel/pkcs11/PKCS11Exception(\"Internal error\")\n", run.output);
}

// Every native of the four peers through its export: slot, session, login, search, creation,
// operations, keys, the card vendor's natives, objects and their attributes, the refusing
// natives. Windows' CK_ULONG is 32 bits on both targets: the answers and the module's record
// are the same on win32 and win64.
TEST_F(BridgeModule, EveryNativeFamilyAnswersThroughItsExport) {
    WineRun run = harness(
        "mechanisms 1 2 3\nsession 44\nrsa.session 33\nrsa.private 9\nrsa.public 10\nrsa.certificate 11\n"
        "find.handles 5 6\nattribute.3 4c6162656c\nattribute.0 0300000000000000\nattribute.1 01\n"
        "attribute.17 30820102\nattribute.272 3230323631323039\nattribute.288 00c1c2c3\n",
        "load init families final");
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_NE(run.output.find("load: function list\ninit: ok\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("final: ok\n"), std::string::npos) << run.output;
    const std::string session = "it/vantrel/pkcs11/nat/NativePKCS11Session",
                      object = "it/vantrel/pkcs11/nat/NativePKCS11Object";
    const std::string rsaSession =
        session + "(it/vantrel/pkcs11/nat/NativePKCS11Slot(it/vantrel/pkcs11/nat/NativePKCS11(), 0), 33)";
    auto objectOf = [&](const char* handle) { return object + "(" + session + "(), " + handle + ")"; };
    const std::string notSupported = "exception it/vantrel/pkcs11/PKCS11Exception(\"Not supported\")";
    EXPECT_EQ(
        "getBridgeVersion: \"1.16\"\n"
        "getRSAcredential: " +
            object + "[3]{" + object + "(" + rsaSession + ", 9), " + object + "(" + rsaSession + ", 10), " + object +
            "(" + rsaSession +
            ", 11)}\n"
            "Slot.getInfo: it/vantrel/pkcs11/PKCS11SlotInfo(\"Scripted slot" +
            std::string(51, ' ') + "\", \"Vantrel tests" + std::string(19, ' ') +
            "\", 1, 256, 256)\n"
            "getTokenInfo: it/vantrel/pkcs11/PKCS11TokenInfo(\"Scripted token" +
            std::string(18, ' ') + "\", \"Vantrel tests" + std::string(19, ' ') +
            "\", \"Script          \", \"0001            \", 1028, "
            "0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256, 256, \"                \")\n"
            "getTokenSN: \"0001            \"\n"
            "getMechanismList: int[3]\n"
            "getMechanismInfo: it/vantrel/pkcs11/PKCS11MechanismInfo(512, 4096, 0)\n"
            "openSession: " +
            session +
            "(it/vantrel/pkcs11/nat/NativePKCS11Slot(), 44)\n"
            "Session.getInfo: it/vantrel/pkcs11/PKCS11SessionInfo(0, 4, 0)\n"
            "login: ok\nloginAuthPath: ok\ninitPIN: ok\nsetPIN: ok\n"
            "findObjectsInit: ok\nfindObject: " +
            objectOf("5") +
            "\nfindObjectsFinal: ok\n"
            "createObject: " +
            objectOf("20") +
            "\n"
            "installCertificate: ok\n"
            "signInit: ok\nsign: 4\nencryptInit: ok\nencrypt: 4\ndecryptInit: ok\ndecrypt: 4\n"
            "generateKeyPair: java/lang/Object[2]{" +
            objectOf("30") + ", " + objectOf("31") +
            "}\n"
            "generateKeyPairOB: java/lang/Object[2]{" +
            objectOf("30") + ", " + objectOf("31") +
            "}\n"
            "generateKey: " +
            objectOf("10") +
            "\n"
            "wrapKey: 4\n"
            "unwrapKey: " +
            objectOf("11") +
            "\n"
            "getIdentrusObject: " +
            objectOf("5") +
            "\n"
            "getCardStatus: 0\nsetCardStatus: ok\nlogintirvex: ok\nsetPINtirvex: ok\n"
            "getBoolAttributeValue: 1\ngetIntAttributeValue: 3\ngetStringAttributeValue: \"Label\"\n"
            "getByteArrayAttributeValue: byte[4]\ngetBigIntegerAttributeValue: java/math/BigInteger(byte[5])\n"
            "getDateAttributeValue: java/util/Date()\ngetAttributeValue: java/lang/Integer(3)\n"
            "size: 0\n"
            "setAttributeValue: ok\nsetAttributeValues: ok\nsetBoolAttributeValue: ok\nsetIntAttributeValue: ok\n"
            "destroy: ok\n"
            "digestInit: " +
            notSupported + "\nverify: " + notSupported + "\nwaitForSlotEvent: " + notSupported +
            "\ncopy: " + notSupported + "\ninitToken: " + notSupported +
            "\n"
            "logout: ok\nclose: ok\ncloseAllSessions: ok\n",
        read("answers.txt"));
    // What the module was handed: 32-bit handles, flags, lengths and mechanism numbers, the
    // packed templates with one CK_ULONG (4 bytes) per Integer value.
    std::string record = read("record.txt");
    for (const char* call :
         {"C_OpenSessionAndGetRSACredential alias=616c696173 aliasLen=5 selector=0 pin=31323334 pinLen=4 "
          "reserved1=null reserved2=null\n",
          "C_GetMechanismList slot=1 list=set count=3\n", "C_GetMechanismInfo slot=1 type=1\n",
          "C_OpenSession slot=1 flags=6 application=null notify=null\n",
          "C_Login session=7 userType=1 pin=31323334 pinLen=4\n",
          "C_SetPIN session=7 old=31323334 oldLen=4 new=35363738 newLen=4\n",
          "C_FindObjectsInit session=7 template=[0x3=6c6162656c 0x11=5a5a5a 0x0=03000000 0x1=01 0x120=5a5a5a5a "
          "0x110=",
          "C_Sign session=7 data=5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a dataLen=20 out=set outLen=600\n",
          "C_GenerateKeyPair session=7 mechanism=0x0 parameter=null parameterLen=0 public template=[0x121=00040000 "
          "0x122=010001 0x1=01 0x3=4964656e74697479] count=4 private template=[0x1=01 0x108=01 0x109=01 "
          "0x80006002=01] count=4\n",
          "C_WrapKey session=7 mechanism=0x1 parameter=null parameterLen=0 wrappingKey=5 key=5 out=set outLen=600\n",
          "C_FindObjectsInit session=7 template=[0x80000201=01800080] count=1\n",
          "C_SetAttributeValue session=7 object=5 template=[0x80004400=01] count=1\n",
          "C_SetAttributeValue session=7 object=5 template=[0x0=03000000] count=1\n",
          "C_DestroyObject session=7 object=5\n", "C_CloseAllSessions slot=1\n"})
        EXPECT_NE(record.find(call), std::string::npos) << call << "\n" << record;
}

TEST_F(BridgeModule, TraceGoesToStandardOutputOrTheWindowsTraceFile) {
    WineRun run = harness("", "load init final", "", "PKCS11_OXL_DEBUG=1");
    EXPECT_NE(run.output.find("JNI: start loadPKCS11Library (arg= " + modulePath() + ")\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("JNI: PKCS11.libInitialize\n"), std::string::npos) << run.output;

    // "2" sends standard output, the trace with it, to c:\jpkcs110.log (in the prefix's drive C).
    // Read and removed through Wine: the win32 prefix lives inside the VM.
    wine("cmd /c del 'c:\\jpkcs110.log'");
    run = harness("", "load init final", "", "PKCS11_OXL_DEBUG=2");
    EXPECT_NE(run.output.find("redirecting stdout on c:\\jpkcs110.log"), std::string::npos) << run.output;
    std::string trace = wine("cmd /c type 'c:\\jpkcs110.log'").output;
    EXPECT_NE(trace.find("JNI: PKCS11.libInitialize\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("JNI: PKCS11.libFinalize\n"), std::string::npos) << trace;
    wine("cmd /c del 'c:\\jpkcs110.log'");
}

}  // namespace
