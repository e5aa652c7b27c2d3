// The stub's update under faults. From each starting state of an installation, every file
// operation the update reaches in turn fails with each error that matters, or the process is
// killed right after it (a test build of the stub with the fault seam of the platform layer).
// Then a clean process with the product stub must load a working service client, the old
// version or the new, and the folder must still hold what it should: no version lost, the
// update installed or still pending. Runs without a JVM keep leak checks on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
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
    bool claimedByDeadProcess = false;    // the update lies under the claim of a process that died
    bool staleProbe = false;              // an empty update file a dead process left, a minute old
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
    std::vector<std::string> strayFiles;  // claims of ended processes, side files of copies
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
    // Every process of the case has ended: a claim left now belongs to a dead one.
    for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
        std::string name = entry.path().filename().string();
        bool claim = platform::privateNameOwner(name, kUpdate.c_str()) != 0;
        bool sideFile = platform::privateNameOwner(name, platform::partialCopyName(kService.c_str()).c_str()) != 0 ||
                        platform::privateNameOwner(name, platform::partialCopyName(kBackup.c_str()).c_str()) != 0;
        if (claim || sideFile) folder.strayFiles.push_back(name);
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
        if (!state.update.empty())
            copyFile(state.update,
                     state.claimedByDeadProcess ? kUpdate + "." + std::to_string(deadProcess()) : kUpdate);
        if (state.staleProbe) {
            writeFile(kUpdate, "");
            fs::last_write_time(kUpdate, fs::file_time_type::clock::now() - std::chrono::minutes(1));
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
        bool killed = journal.lastAction().rfind("kill-", 0) == 0;
        if (killed) {
            EXPECT_EQ(SIGKILL, faulted.signal) << context;
        } else {
            // Exit status 0: no leak, no sanitizer report (those land in stderr.log).
            EXPECT_EQ(0, faulted.exitStatus) << context << "\n" << faulted.report << readFile("stderr.log");
            std::string served = servedBy(faulted.report);
            expectDescriptors(faulted, !served.empty(), context);
            EXPECT_NE("earlier", served) << context;
        }
        // A failed load right after an install makes the stub give the update up for the
        // backup: the one case in which the new version is gone afterwards.
        bool updateGivenUp =
            readDailyLogs("tavobridge_").find(" aggiornato non caricabile: ripristino ") != std::string::npos;

        ProgramRun clean = load(STUB_PATH, "", {"descriptors", "getCodiceTAVO", "build"});
        // A probe the faulted run left stands in the way of a claim it left: the update still
        // waits, and loads once the probe is stale (removed by one, the claim taken by the next)
        // install it.
        if (!folderNow().strayFiles.empty() && contentOf(kUpdate) == "empty") {
            fs::last_write_time(kUpdate, fs::file_time_type::clock::now() - std::chrono::minutes(1));
            for (int later = 0; later < 2; ++later)
                clean = load(STUB_PATH, "", {"descriptors", "getCodiceTAVO", "build"});
        }
        fs::remove(kJournal);
        Folder after = folderNow();
        context += "\nafterwards: " + describe(after) + "\nfaulted run:\n" + joined(journal.lines);
        EXPECT_EQ(0, clean.exitStatus) << context << "\n" << clean.report << readFile("stderr.log");
        std::string served = servedBy(clean.report);
        if (updateGivenUp) {
            EXPECT_TRUE(served == "old" || served == "new") << context << "\n" << clean.report;
        } else {
            EXPECT_EQ(holdsNew ? "new" : "old", served) << context << "\n" << clean.report;
        }
        expectDescriptors(clean, true, context);
        EXPECT_EQ(served, after.service) << context;
        // The update is installed or waits; an empty file left by a probe is no update.
        EXPECT_TRUE(after.update == "" || after.update == "empty") << context;
        if (served == "new") {
            EXPECT_EQ("old", after.backup) << context;
        }
        EXPECT_TRUE(after.strayFiles.empty()) << context;
        return journal;
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
        {"StaleProbe", kOld, "", "", false, true},
        {"ClaimLeftBehind", kOld, kNew, "", true},
        {"ClaimLeftAfterTheDelete", "", kNew, kOld, true},
    };
}

INSTANTIATE_TEST_SUITE_P(StartingStates, UpdateFaults, ::testing::ValuesIn(startingStates()),
                         [](const ::testing::TestParamInfo<StartingState>& info) { return info.param.name; });

// Faults the sweep found, each pinned to the operation it hits (so a change in the count of
// operations cannot move it): a process that dies holding the claim, and one whose delete of
// the service client fails and that then cannot give the claim back, used to leave the update
// under a claim nothing ever took up again.
TEST_F(UpdateFaultRuns, UpdateClaimedByAnEndedProcessIsStillInstalled) {
    struct Step {
        const char* operation;  // the journal's "<operation> <file>..." text the step hits first
        const char* action;
    };
    const std::vector<std::vector<Step>> cases = {
        {{"rename " TAVO2UPD_FILE " " TAVO2UPD_FILE ".", "kill-after"}},
        {{"delete " TAVO2_FILE, "denied"}, {"rename " TAVO2UPD_FILE ".", "kill-before"}},
        {{"delete " TAVO2_FILE, "denied"}, {"rename " TAVO2UPD_FILE ".", "denied"}},
        {{"copy " TAVO2_FILE, "denied"}, {"rename " TAVO2UPD_FILE ".", "denied"}},
    };
    for (const std::vector<Step>& steps : cases) {
        std::string plan;
        for (const Step& step : steps) {
            Journal journal = runCase(kUpdatePending, plan);
            long k = 0;
            for (const std::string& line : journal.lines) {
                long index = std::stol(line);
                std::string text = line.substr(line.find(' ') + 1);
                if (index > (plan.empty() ? 0 : std::stol(plan.substr(plan.rfind(',') + 1))) &&
                    text.rfind(step.operation, 0) == 0) {
                    k = index;
                    break;
                }
            }
            ASSERT_NE(0, k) << "no operation " << step.operation << " after plan " << plan;
            plan += (plan.empty() ? "" : ",") + std::to_string(k) + ":" + step.action;
        }
        runCase(kUpdatePending, plan);
    }
}

}  // namespace
