// The stub's update under faults. From each starting state of an installation, every file
// operation the update reaches in turn fails with each error that matters, or the process is
// killed right after it (a test build of the stub with the fault seam of the platform layer).
// Then a clean process with the product stub must load a working service client, the old
// version or the new, and the folder must still hold what it should: no version lost, the
// update installed or still pending. Runs without a JVM keep leak checks on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fileops.h"
#include "install_support.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kStub = STUB_FILE;
const std::string kService = TAVO2_FILE;
const std::string kUpdate = TAVO2UPD_FILE;
const std::string kBackup = TAVO2BCK_FILE;
const char kJournal[] = "fault_journal.txt";

// The versions an installation holds: the one installed, the update, and an earlier backup
// (the partial service client, which answers getCodiceTAVO with a code of its own).
const std::string kOld = SERVICE_PATH;
const std::string kNew = VARIANT_PATH;
const std::string kEarlier = PARTIAL_PATH;

const std::vector<std::string> kFailures = {"denied", "exists", "missing", "nomem", "other"};

struct StartingState {
    const char* name;
    std::string service, update, backup;  // what lies under each name; "" for nothing
    bool leftByKilledHolder = false;      // a killed holder's lock file and copies cut short lie there
    bool leftoverProbe = false;           // the update file is a probe a killed process left
};

void PrintTo(const StartingState& state, std::ostream* out) { *out << state.name; }

std::string label(const std::string& path) {
    if (path == kOld) return "old";
    if (path == kNew) return "new";
    if (path == kEarlier) return "earlier";
    return path;
}

// The process identity of a process that has ended.
long deadProcess() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

struct Folder {
    std::string service, update, backup;  // "old", "new", "earlier", "empty", "" (none), "?" (other)
    std::vector<std::string> strayFiles;  // the update's own files (lock, side files, rejected version)
};

std::string contentOf(const std::string& name) {
    if (!fileExists(name)) return "";
    std::string bytes = readFile(name);
    if (bytes.empty()) return "empty";
    for (const std::string& path : {kOld, kNew, kEarlier})
        if (bytes == readFile(path)) return label(path);
    return "?";
}

Folder folderNow() {
    Folder folder{contentOf(kService), contentOf(kUpdate), contentOf(kBackup), {}};
    // Every process of the case has ended: none of the update's own files has a use now.
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
        std::string name = entry.path().filename().string();
        if (name.find(platform::kPrivateMark) != std::string::npos) folder.strayFiles.push_back(name);
    }
    return folder;
}

std::string describe(const Folder& folder) {
    std::ostringstream text;
    text << "service=" << folder.service << " update=" << folder.update << " backup=" << folder.backup;
    for (const std::string& stray : folder.strayFiles) text << " stray=" << stray;
    return text.str();
}

struct Journal {
    std::vector<std::string> lines;  // "<k> <operation> <file>[ <target>][ <action>]"
    bool reached(long k) const { return static_cast<long>(lines.size()) >= k; }
    // The action the plan took at the last operation reached, "" for none.
    std::string lastAction() const {
        if (lines.empty()) return "";
        std::string word = lines.back().substr(lines.back().rfind(' ') + 1);
        bool failure = std::find(kFailures.begin(), kFailures.end(), word) != kFailures.end();
        return failure || word.rfind("kill-", 0) == 0 ? word : "";
    }
};

Journal readJournal() {
    Journal journal;
    std::istringstream in(readFile(kJournal) == "<missing>" ? "" : readFile(kJournal));
    for (std::string line; std::getline(in, line);) journal.lines.push_back(line);
    fs::remove(kJournal);
    return journal;
}

class UpdateFaultRuns : public ::testing::Test {
protected:
    void SetUp() override { expectedTavo2Descriptors_ = -1; }

    void lay(const StartingState& state) {
        for (const fs::directory_entry& entry : fs::directory_iterator(".")) fs::remove_all(entry.path());
        if (!state.service.empty()) copyFile(state.service, kService);
        if (!state.backup.empty()) copyFile(state.backup, kBackup);
        if (!state.update.empty()) copyFile(state.update, kUpdate);
        if (state.leftByKilledHolder) {
            writeFile(platform::privateName(kService.c_str(), "lock"), std::to_string(deadProcess()) + "\n");
            writeFile(platform::partialCopyName(kService.c_str()), readFile(kNew).substr(0, 4096));
            writeFile(platform::partialCopyName(kBackup.c_str()), readFile(kOld).substr(0, 4096));
        }
        if (state.leftoverProbe) {
            writeFile(kUpdate, "");
            fs::permissions(kUpdate, fs::perms::none);
        }
    }

    // One process loading the stub (the build with the seam, or the product) and calling
    // getCodiceTAVO, which the service client answers without a JVM.
    ProgramRun load(const std::string& stubPath, const std::string& plan, std::vector<std::string> commands) {
        fs::remove(kStub);
        fs::create_symlink(stubPath, kStub);
        RunOptions options;
        options.environment = {"VANTREL_FAULT_PLAN=" + plan,
                               "VANTREL_FAULT_JOURNAL=" + fs::absolute(kJournal).string()};
        std::vector<std::string> argv = {HOST_PATH};
        argv.insert(argv.end(), commands.begin(), commands.end());
        return runProgram(argv, options);
    }

    static std::string servedBy(const std::string& report) {
        if (report.find("getCodiceTAVO=999PARTIAL") != std::string::npos) return "earlier";
        if (report.find("getCodiceTAVO=999") == std::string::npos) return "";
        return report.find("build=variant") != std::string::npos ? "new" : "old";
    }

    // The descriptors the process holds beyond its start: the service client's redirections when
    // it is loaded, and nothing else.
    void expectDescriptors(const ProgramRun& run, bool serviceLoaded, const std::string& context) {
        size_t at = run.report.find("descriptors=+");
        ASSERT_NE(std::string::npos, at) << context << "\n" << run.report;
        int held = std::stoi(run.report.substr(at + 13));
        if (serviceLoaded && expectedTavo2Descriptors_ < 0) expectedTavo2Descriptors_ = held;
        EXPECT_EQ(serviceLoaded ? expectedTavo2Descriptors_ : 0, held) << context;
    }

    // Runs the plan on the state, then a clean load; checks both. Returns the operations the
    // faulted run reached.
    Journal runCase(const StartingState& state, const std::string& plan) {
        lay(state);
        bool holdsNew = state.update == kNew;
        std::string context = std::string(state.name) + ", plan " + plan;
        ProgramRun faulted = load(FAULT_STUB_PATH, plan, {"descriptors", "getCodiceTAVO", "build"});
        Journal journal = readJournal();
        // A failed load (the seam's stand-in for a version that does not load) makes the stub
        // give the service client up for the backup, whatever that holds: the one case in which
        // the installed version is gone afterwards (kept aside).
        bool updateGivenUp = readDailyLogs("tavobridge_").find(" non caricabile: ") != std::string::npos;
        bool killed = journal.lastAction().rfind("kill-", 0) == 0;
        if (killed) {
            EXPECT_EQ(SIGKILL, faulted.signal) << context;
        } else {
            // Exit status 0: no leak, no sanitizer report (those land in stderr.log).
            EXPECT_EQ(0, faulted.exitStatus) << context << "\n" << faulted.report << readFile("stderr.log");
            std::string served = servedBy(faulted.report);
            expectDescriptors(faulted, served == "old" || served == "new", context);
            if (!updateGivenUp) {
                EXPECT_NE("earlier", served) << context;
            }
        }

        ProgramRun clean = load(STUB_PATH, "", {"descriptors", "getCodiceTAVO", "build"});
        fs::remove(kJournal);
        Folder after = folderNow();
        context += "\nafterwards: " + describe(after) + "\nfaulted run:\n" + joined(journal.lines);
        EXPECT_EQ(0, clean.exitStatus) << context << "\n" << clean.report << readFile("stderr.log");
        std::string served = servedBy(clean.report);
        if (updateGivenUp) {
            EXPECT_TRUE(served == "old" || served == "new") << context << "\n" << clean.report;
        } else {
            std::string installed = label(state.service.empty() ? state.backup : state.service);
            EXPECT_EQ(holdsNew ? "new" : installed, served) << context << "\n" << clean.report;
        }
        expectDescriptors(clean, true, context);
        EXPECT_EQ(served, after.service) << context;
        // The version given up is kept aside for the administrator.
        if (updateGivenUp) {
            auto rejected = std::find(after.strayFiles.begin(), after.strayFiles.end(),
                                      platform::privateName(kService.c_str(), "rejected"));
            if (rejected != after.strayFiles.end()) after.strayFiles.erase(rejected);
        }
        // The update is installed or waits; an empty file left by a probe is no update.
        EXPECT_TRUE(after.update == "" || after.update == "empty") << context;
        if (served == "new" && !updateGivenUp) {
            EXPECT_EQ("old", after.backup) << context;
        }
        EXPECT_TRUE(after.strayFiles.empty()) << context;
        return journal;
    }

    // The index of the first operation past the plan's last whose journal text ("<operation>
    // <file>[ <target>]") starts with `operation` and, if given, has that target, in a run of
    // the fault stub with the plan on the state; 0 for none.
    long operationIndex(const StartingState& state, const std::string& plan, const std::string& operation,
                        const std::string& target = "") {
        Journal journal = runCase(state, plan);
        long after = plan.empty() ? 0 : std::stol(plan.substr(plan.rfind(',') + 1));
        for (const std::string& line : journal.lines) {
            std::istringstream words(line);
            long index = 0;
            std::string name, file, onto;
            words >> index >> name >> file >> onto;
            std::string text = line.substr(line.find(' ') + 1);
            if (index > after && text.rfind(operation, 0) == 0 && (target.empty() || onto == target)) return index;
        }
        return 0;
    }

    // A host started in the background with the stub and plan given, its journal its own.
    struct HeldHost {
        std::string name, journal;
        pid_t pid;
        int report;
        // Until the journal shows the plan's hold reached; false after 20 s.
        bool waitForHold() {
            for (int waited = 0; waited < 2000; ++waited) {
                if (readFile(journal).find(" hold\n") != std::string::npos) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return false;
        }
        ProgramRun finish() {
            std::string text;
            char buffer[512];
            for (ssize_t got; (got = read(report, buffer, sizeof buffer)) != 0;) {
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) break;
                text.append(buffer, static_cast<size_t>(got));
            }
            close(report);
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            fs::remove(journal);
            return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
        }
    };

    // The stub link is read once the host opens it; the hold comes later, so the link may
    // change for the next host once the previous one holds or has had time to load.
    HeldHost startHost(const std::string& stubPath, const std::string& plan, const std::string& name) {
        fs::remove(kStub);
        fs::create_symlink(stubPath, kStub);
        HeldHost host{name, fs::absolute("journal_" + name).string(), -1, -1};
        int channel[2];
        if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
        host.pid = fork();
        if (host.pid < 0) throw std::runtime_error("fork failed");
        if (host.pid == 0) {
            close(channel[0]);
            if (dup2(channel[1], 3) < 0) _exit(126);
            setenv("VANTREL_FAULT_PLAN", plan.c_str(), 1);
            setenv("VANTREL_FAULT_JOURNAL", host.journal.c_str(), 1);
            setenv("VANTREL_FAULT_HOLD_MS", "4000", 1);
            execl(HOST_PATH, HOST_PATH, "getCodiceTAVO", "build", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(channel[1]);
        host.report = channel[0];
        return host;
    }

    static std::string joined(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) text += "  " + line + "\n";
        return text;
    }

    ScratchDirectory directory_;
    int expectedTavo2Descriptors_;
};

class UpdateFaults : public UpdateFaultRuns, public ::testing::WithParamInterface<StartingState> {};

// Every operation in turn fails with each error or is the last before a kill; then, after each
// failure, every later operation (a recovery path: the claim given back, the backup restored)
// fails or is killed in turn as well.
TEST_P(UpdateFaults, EveryOperationFailsOrIsKilledInTurn) {
    const StartingState& state = GetParam();
    Journal reference = runCase(state, "");
    long operations = static_cast<long>(reference.lines.size());
    ASSERT_GT(operations, 0);
    long singles = 0, doubles = 0, kills = 0;
    for (long k = 1;; ++k) {
        bool any = false;
        // Out of memory stands for every code the update gives no meaning of its own.
        for (const char* action : {"denied", "exists", "missing", "nomem", "kill-after"}) {
            std::string plan = std::to_string(k) + ":" + action;
            Journal journal = runCase(state, plan);
            if (!journal.reached(k)) continue;
            any = true;
            ++singles;
            kills += journal.lastAction() == "kill-after";
            if (std::string(action) != "denied") continue;
            for (long later = k + 1;; ++later) {
                bool laterReached = false;
                for (const char* second : {"denied", "kill-after"}) {
                    Journal followed = runCase(state, plan + "," + std::to_string(later) + ":" + second);
                    if (!followed.reached(later)) continue;
                    laterReached = true;
                    ++doubles;
                    kills += followed.lastAction() == "kill-after";
                }
                if (!laterReached) break;
            }
        }
        if (!any) break;
    }
    std::printf("%s: %ld operations in a clean run; %ld single and %ld double injections reached, %ld kills\n",
                state.name, operations, singles, doubles, kills);
}

const StartingState kUpdatePending = {"UpdatePending", kOld, kNew, ""};

std::vector<StartingState> startingStates() {
    return {
        {"NoUpdate", kOld, "", ""},
        kUpdatePending,
        {"UpdatePendingWithEarlierBackup", kOld, kNew, kEarlier},
        {"ServiceClientLostBackupLeft", "", "", kOld},
        {"ServiceClientLostUpdatePending", "", kNew, kOld},
        {"LeftoverProbe", kOld, "", "", false, true},
        {"LeftByKilledHolder", kOld, kNew, "", true},
        {"LeftByKilledHolderWithoutServiceClient", "", kNew, kOld, true},
    };
}

INSTANTIATE_TEST_SUITE_P(StartingStates, UpdateFaults, ::testing::ValuesIn(startingStates()),
                         [](const ::testing::TestParamInfo<StartingState>& info) { return info.param.name; });

// Faults the sweep found, each pinned to the operation it hits (so a change in the count of
// operations cannot move it): a process killed or failing at any step of an install leaves the
// update pending or installed, never lost.
TEST_F(UpdateFaultRuns, UpdateInterruptedByAKillOrAFailureIsStillInstalled) {
    struct Step {
        const char* operation;  // the journal's "<operation> <file>..." text the step hits first
        const char* action;
    };
    const std::vector<std::vector<Step>> cases = {
        {{"lock ", "kill-after"}},
        {{"copy " TAVO2_FILE " " TAVO2BCK_FILE, "kill-after"}},
        {{"replace " TAVO2UPD_FILE, "kill-before"}},
        {{"replace " TAVO2UPD_FILE, "denied"}},
        {{"copy " TAVO2_FILE, "denied"}, {"unlock ", "kill-before"}},
    };
    for (const std::vector<Step>& steps : cases) {
        std::string plan;
        for (const Step& step : steps) {
            long k = operationIndex(kUpdatePending, plan, step.operation);
            ASSERT_NE(0, k) << "no operation " << step.operation << " after plan " << plan;
            plan += (plan.empty() ? "" : ",") + std::to_string(k) + ":" + step.action;
        }
        runCase(kUpdatePending, plan);
    }
}

// Every exit of the probe puts a lost service client back, the exit for an unexpected error too:
// the process itself loads the old version.
TEST_F(UpdateFaultRuns, EveryExitOfTheProbeRestoresALostServiceClient) {
    const StartingState lost = {"ServiceClientLostBackupLeft", "", "", kOld};
    long k = operationIndex(lost, "", "create " TAVO2UPD_FILE);
    ASSERT_NE(0, k);
    for (const char* action : {"denied", "missing", "nomem", "other"}) {
        lay(lost);
        ProgramRun faulted = load(FAULT_STUB_PATH, std::to_string(k) + ":" + action, {"getCodiceTAVO", "build"});
        fs::remove(kJournal);
        EXPECT_EQ("old", servedBy(faulted.report)) << action << "\n" << faulted.report;
        EXPECT_EQ("old", contentOf(kService)) << action;
    }
}

// A host that loads while another installs the update finds a whole version at the name, old or
// new, and (b) the probe of a host starting meanwhile is never taken for the update. The fault
// stub holds the installing host before a chosen step while the others start.
TEST_F(UpdateFaultRuns, HostsStartingDuringAnInstallEachLoadAVersion) {
    // (c) Held right before the update takes the service client's name.
    long beforeTheName = operationIndex(kUpdatePending, "", "", kService);
    // (b) Held right after the update was seen to hold a library; meanwhile one host installs
    // it and another's probe takes the update's name, held there as well.
    long afterTheCheck = operationIndex(kUpdatePending, "", "info " TAVO2UPD_FILE) + 1;
    const StartingState installed = {"Installed", kNew, "", kOld};
    long probeMade = operationIndex(installed, "", "create " TAVO2UPD_FILE) + 1;
    ASSERT_NE(0, beforeTheName);
    ASSERT_NE(1, afterTheCheck);
    ASSERT_NE(1, probeMade);

    for (long holdAt : {beforeTheName, afterTheCheck}) {
        std::string context = "held at " + std::to_string(holdAt);
        lay(kUpdatePending);
        HeldHost installer = startHost(FAULT_STUB_PATH, std::to_string(holdAt) + ":hold", "installer");
        ASSERT_TRUE(installer.waitForHold()) << context;
        HeldHost other = startHost(STUB_PATH, "", "other");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        HeldHost prober = startHost(FAULT_STUB_PATH, std::to_string(probeMade) + ":hold", "prober");
        for (HeldHost* host : {&installer, &other, &prober}) {
            ProgramRun run = host->finish();
            EXPECT_EQ(0, run.exitStatus) << context << " " << host->name << "\n" << run.report;
            std::string served = servedBy(run.report);
            EXPECT_TRUE(served == "old" || served == "new") << context << " " << host->name << "\n" << run.report;
        }
        Folder after = folderNow();
        EXPECT_EQ("new", after.service) << context << ": " << describe(after);
        EXPECT_EQ("old", after.backup) << context << ": " << describe(after);
        EXPECT_EQ("", after.update) << context << ": " << describe(after);
        EXPECT_TRUE(after.strayFiles.empty()) << context << ": " << describe(after);
    }
}

}  // namespace

namespace {

// ---- Hosts racing for the update ----------------------------------------------------------
// Several hosts start at the same moment in a folder with an update pending (the product stub),
// in one variant some of them killed at random moments; then one clean host loads. Every host
// that lived must have loaded the old or the new version, exactly one installed it (when none was
// killed), and after the clean load the new version is installed, the old one is the backup and
// no other file is left. VANTREL_RACE_ROUNDS sets the rounds per variant (the campaign script
// runs thousands); VANTREL_RACE_SEED repeats a campaign.

long raceSetting(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atol(text) : fallback;
}

std::string raceServedBy(const std::string& report) {
    if (report.find("getCodiceTAVO=999") == std::string::npos) return "none";
    return report.find("build=variant") != std::string::npos ? "new" : "old";
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

struct RaceTally {
    long rounds = 0, hostsKilled = 0, failedRounds = 0;
    std::map<std::string, long> failures;  // what went wrong, by kind
    std::string firstFailures;
};

// One round; adds what went wrong to the tally.
void raceRound(std::mt19937& random, int hosts, bool kills, RaceTally& tally) {
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) fs::remove_all(entry.path());
    fs::create_symlink(STUB_PATH, kStub);
    copyFile(kOld, kService);
    copyFile(kNew, kUpdate);

    int gate[2];
    if (pipe(gate) != 0) throw std::runtime_error("pipe failed");
    // Every host waits on the gate, so all start together when it opens.
    RunOptions racing;
    racing.quiet = true;
    racing.gate[0] = gate[0];
    racing.gate[1] = gate[1];
    std::vector<StartedProgram> started;
    for (int i = 0; i < hosts; ++i) started.push_back(startProgram({HOST_PATH, "getCodiceTAVO", "build"}, racing));
    close(gate[0]);
    // The moments of the kills, from the opening of the gate; a host run takes some tens of ms.
    std::vector<std::pair<long, pid_t>> killAt;
    if (kills)
        for (const StartedProgram& host : started)
            if (random() % 2 == 0) killAt.push_back({static_cast<long>(random() % 60000), host.pid});
    std::sort(killAt.begin(), killAt.end());
    auto opened = std::chrono::steady_clock::now();
    close(gate[1]);
    for (const auto& kill : killAt) {
        std::this_thread::sleep_until(opened + std::chrono::microseconds(kill.first));
        ::kill(kill.second, SIGKILL);
    }

    std::set<std::string> wrong;
    std::string log;
    for (const StartedProgram& host : started) {
        ProgramRun run = finishProgram(host);
        if (run.signal == SIGKILL) {
            ++tally.hostsKilled;
            continue;
        }
        if (run.exitStatus != 0) wrong.insert("host failed");
        if (raceServedBy(run.report) == "none") wrong.insert("host served by no version");
    }
    log = readDailyLogs("tavobridge_");
    if (killAt.empty() && occurrences(log, "Rinomino ") != 1) wrong.insert("installed other than once");
    if (log.find("backup Error") != std::string::npos) wrong.insert("backup failed");

    ProgramRun clean = runProgram({HOST_PATH, "getCodiceTAVO", "build"});
    std::string served = raceServedBy(clean.report);
    if (served != "new") wrong.insert("clean host served by " + served);
    Folder after = folderNow();
    if (after.service != "new") wrong.insert("service=" + after.service);
    if (after.backup != "old") wrong.insert("backup=" + after.backup);
    if (after.update != "") wrong.insert("update=" + after.update);
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
        std::string name = entry.path().filename().string();
        bool expected = name == kStub || name == kService || name == kBackup || name == "stdout.log" ||
                        name == "stderr.log" || name.rfind("tavobridge_", 0) == 0 || name.rfind("tavodll_", 0) == 0;
        if (!expected) wrong.insert("stray file");
    }

    ++tally.rounds;
    if (wrong.empty()) return;
    ++tally.failedRounds;
    std::string round = "round " + std::to_string(tally.rounds) + ":";
    for (const std::string& kind : wrong) {
        ++tally.failures[kind];
        round += " [" + kind + "]";
    }
    if (tally.failedRounds <= 5) tally.firstFailures += round + " " + describe(after) + "\n";
}

void runRace(bool kills) {
    ScratchDirectory directory;
    long rounds = raceSetting("VANTREL_RACE_ROUNDS", 100);
    int hosts = static_cast<int>(raceSetting("VANTREL_RACE_HOSTS", 6));
    unsigned seed = static_cast<unsigned>(raceSetting("VANTREL_RACE_SEED", static_cast<long>(std::random_device()())));
    std::mt19937 random(seed);
    RaceTally tally;
    auto began = std::chrono::steady_clock::now();
    for (long round = 0; round < rounds; ++round) {
        raceRound(random, hosts, kills, tally);
        // Long campaigns show how far they got.
        if ((round + 1) % 500 == 0 && round + 1 < rounds)
            std::printf("  ... %ld rounds, %ld failed\n", round + 1, tally.failedRounds), std::fflush(stdout);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("race%s: seed %u, %ld rounds of %d hosts in %.1f s, %ld hosts killed, %ld rounds failed\n",
                kills ? " with kills" : "", seed, tally.rounds, hosts, seconds, tally.hostsKilled, tally.failedRounds);
    for (const auto& failure : tally.failures) std::printf("  %s: %ld rounds\n", failure.first.c_str(), failure.second);
    EXPECT_EQ(0, tally.failedRounds) << tally.firstFailures;
}

TEST(UpdateRace, HostsStartingTogether) { runRace(false); }

TEST(UpdateRace, HostsStartingTogetherSomeKilledAtRandomMoments) { runRace(true); }

}  // namespace
