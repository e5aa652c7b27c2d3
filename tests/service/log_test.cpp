// The daily log with both deliverables' settings, stamped at chosen moments.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "log.h"
#include "test_support.h"
#include "threadid.h"

namespace {

const LogSettings stubSettings = {"tavobridge_%04d-%02d-%02d.log", false, "DEBUG", {"DEBUG", "WARN", "ERROR"}};

const platform::LocalTime kMorning = {2026, 12, 8, 9, 41, 7, 42};

class LogTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
};

TEST_F(LogTest, Tavo2EntriesCarryThreadIdTimeAndLevelWord) {
    writeLogEntryAt(tavo2LogSettings, kMorning, 0xF24, LOG_DEBUG, "startTavo.I\n");
    writeLogEntryAt(tavo2LogSettings, kMorning, 0xF24, LOG_ERROR, "line %d = %s\n", 3, "x%y");
    writeLogEntryAt(tavo2LogSettings, kMorning, 0xDEADBEEF, 0, "level zero\n");
    writeLogEntryAt(tavo2LogSettings, kMorning, 1, LOG_WARN, "level two\n");
    EXPECT_EQ(readFile("tavodll_2026-12-08.log"),
              "00000F24 [08/12/2026 09:41:07:042] DEBUG - startTavo.I\n"
              "00000F24 [08/12/2026 09:41:07:042] ERROR - line 3 = x%y\n"
              "DEADBEEF [08/12/2026 09:41:07:042] ERROR - level zero\n"
              "00000001 [08/12/2026 09:41:07:042] ERROR - level two\n");
}

TEST_F(LogTest, StubEntriesHaveNoThreadIdAndThreeLevelWords) {
    const int levels[] = {1, 2, 3, 0, 7};
    for (int level : levels) writeLogEntryAt(stubSettings, kMorning, 0xF24, level, "L%d\n", level);
    EXPECT_EQ(readFile("tavobridge_2026-12-08.log"),
              "[08/12/2026 09:41:07:042] DEBUG - L1\n"
              "[08/12/2026 09:41:07:042] WARN - L2\n"
              "[08/12/2026 09:41:07:042] ERROR - L3\n"
              "[08/12/2026 09:41:07:042] DEBUG - L0\n"
              "[08/12/2026 09:41:07:042] DEBUG - L7\n");
}

TEST_F(LogTest, MessageWithoutLineEndingJoinsTheNextEntry) {
    writeLogEntryAt(tavo2LogSettings, kMorning, 0xA, LOG_DEBUG, "getVersionePorta.U");
    writeLogEntryAt(tavo2LogSettings, kMorning, 0xA, LOG_DEBUG, "next\n");
    EXPECT_EQ(readFile("tavodll_2026-12-08.log"),
              "0000000A [08/12/2026 09:41:07:042] DEBUG - getVersionePorta.U"
              "0000000A [08/12/2026 09:41:07:042] DEBUG - next\n");
}

// An entry is formatted whole before its one write: messages at and past the edge of the
// formatting room come out whole.
TEST_F(LogTest, LongMessagesArriveWhole) {
    const std::string prefix = "00000001 [08/12/2026 09:41:07:042] DEBUG - ";
    std::string expected;
    for (size_t length : {979, 980, 981, 982, 70000}) {
        const std::string message = std::string(length - 1, 'x') + "\n";
        writeLogEntryAt(tavo2LogSettings, kMorning, 1, LOG_DEBUG, "%s", message.c_str());
        expected += prefix + message;
    }
    EXPECT_EQ(readFile("tavodll_2026-12-08.log"), expected);
}

TEST_F(LogTest, EntriesAroundMidnightGoToTwoDailyFiles) {
    writeLogEntryAt(tavo2LogSettings, {2026, 12, 31, 23, 59, 59, 999}, 1, LOG_DEBUG, "old year\n");
    writeLogEntryAt(tavo2LogSettings, {2027, 1, 1, 0, 0, 0, 0}, 1, LOG_DEBUG, "new year\n");
    EXPECT_EQ(readFile("tavodll_2026-12-31.log"), "00000001 [31/12/2026 23:59:59:999] DEBUG - old year\n");
    EXPECT_EQ(readFile("tavodll_2027-01-01.log"), "00000001 [01/01/2027 00:00:00:000] DEBUG - new year\n");
}

TEST_F(LogTest, EntriesFollowTheCurrentDirectory) {
    ScratchDirectory second;  // now the current directory
    writeLogEntryAt(tavo2LogSettings, kMorning, 1, LOG_DEBUG, "second\n");
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    writeLogEntryAt(tavo2LogSettings, kMorning, 1, LOG_DEBUG, "first\n");
    EXPECT_EQ(readFile(second.path + "/tavodll_2026-12-08.log"), "00000001 [08/12/2026 09:41:07:042] DEBUG - second\n");
    EXPECT_EQ(readFile("tavodll_2026-12-08.log"), "00000001 [08/12/2026 09:41:07:042] DEBUG - first\n");
}

TEST_F(LogTest, UnopenableFileIsReportedOnStandardOutputOnly) {
    // A removed current directory refuses new files even to root.
    ScratchDirectory doomed;
    ASSERT_EQ(rmdir(doomed.path.c_str()), 0);
    std::string out =
        captureStdout([] { writeLogEntryAt(tavo2LogSettings, kMorning, 1, LOG_ERROR, "lost %s\n", "entry"); });
    EXPECT_EQ(out, "Il file 'tavodll_2026-12-08.log' non e' stato aperto\n");
}

TEST_F(LogTest, LiveEntryUsesTodayAndTheCallingThread) {
    platform::LocalTime now = platform::localTimeNow();
    writeLogWith(tavo2LogSettings, LOG_DEBUG, "live %d\n", 42);
    char name[32];
    std::snprintf(name, sizeof name, "tavodll_%04d-%02d-%02d.log", now.year, now.month, now.day);
    std::string text = readFile(name);
    char thread[16];
    std::snprintf(thread, sizeof thread, "%08X [", platform::currentThreadId());
    EXPECT_EQ(text.rfind(thread, 0), 0u) << text;
    EXPECT_NE(text.find("] DEBUG - live 42\n"), std::string::npos) << text;
}

}  // namespace
