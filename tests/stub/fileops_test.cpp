// The POSIX file operations keep the Windows semantics the update relies on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <chrono>
#include <filesystem>
#include <iterator>

#include "fileops.h"
#include "install_support.h"
#include "test_support.h"

namespace {

// A probe is an empty new file with the probe's mark; its removal takes away that file and no
// other that has taken its name since.
TEST(FileOps, ProbeRefusesAnExistingNameAndRemovesOnlyItself) {
    ScratchDirectory directory;
    platform::ProbeHandle probe = 0, second = 0;
    ASSERT_EQ(0, platform::createProbe("probe", &probe));
    platform::FileInfo info{-1, -1};
    EXPECT_EQ(0, platform::fileInfo("probe", &info));
    EXPECT_EQ(0, info.size);
    EXPECT_TRUE(platform::isLeftoverProbe("probe"));
    EXPECT_EQ(platform::kErrorFileExists, platform::createProbe("probe", &second));
    EXPECT_EQ(platform::kErrorFileNotFound, platform::createProbe("missing/probe", &second));
    EXPECT_EQ(platform::kErrorFileNotFound, platform::fileInfo("missing", &info));
    EXPECT_EQ(0, platform::removeProbe("probe", probe));
    EXPECT_FALSE(fileExists("probe"));

    ASSERT_EQ(0, platform::createProbe("probe", &probe));
    ASSERT_EQ(0, rename("probe", "moved"));
    writeFile("probe", "");
    EXPECT_FALSE(platform::isLeftoverProbe("probe"));
    EXPECT_EQ(platform::kErrorFileNotFound, platform::removeProbe("probe", probe));
    EXPECT_TRUE(fileExists("probe"));

    // The age counts from the last write.
    std::filesystem::last_write_time("probe", std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    ASSERT_EQ(0, platform::fileInfo("probe", &info));
    EXPECT_NEAR(3600, info.secondsSinceWrite, 5);
}

TEST(FileOps, CopyReplacesTheTargetAndLeavesNoSideFile) {
    ScratchDirectory directory;
    writeFile("from", std::string(200000, 'x'));
    writeFile("to", "older and different");
    ASSERT_EQ(0, chmod("from", 0750));
    EXPECT_EQ(0, platform::copyFileReplacing("from", "to"));
    EXPECT_EQ(readFile("from"), readFile("to"));
    struct stat info {};
    ASSERT_EQ(0, stat("to", &info));
    EXPECT_EQ(0750u, info.st_mode & 0777);
    // No side file is left.
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()));

    // A missing source leaves the target as it was.
    EXPECT_EQ(platform::kErrorFileNotFound, platform::copyFileReplacing("missing", "to"));
    EXPECT_EQ(readFile("from"), readFile("to"));

    // A copy that must not replace leaves an existing target as it is, and no side file.
    writeFile("to", "put there meanwhile");
    EXPECT_EQ(platform::kErrorFileExists, platform::copyFileIfAbsent("from", "to"));
    EXPECT_EQ("put there meanwhile", readFile("to"));
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()));
    EXPECT_EQ(0, platform::copyFileIfAbsent("from", "new"));
    EXPECT_EQ(readFile("from"), readFile("new"));
}

// The lock is the system's: a second holder waits and gives up, and the file goes with the release.
TEST(FileOps, LockIsExclusiveAndGoesWithItsRelease) {
    ScratchDirectory directory;
    platform::FileLock lock = 0, second = 0;
    ASSERT_EQ(0, platform::acquireFileLock("lock", 0, &lock));
    EXPECT_EQ(std::to_string(getpid()) + "\n", readFile("lock"));
    pid_t child = fork();
    if (child == 0) _exit(platform::acquireFileLock("lock", 50, &second));
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ(platform::kErrorSharingViolation, WEXITSTATUS(status));
    platform::releaseFileLock("lock", lock);
    EXPECT_FALSE(fileExists("lock"));
    ASSERT_EQ(0, platform::acquireFileLock("lock", 0, &lock));
    platform::releaseFileLock("lock", lock);
}

TEST(FileOps, RenameNeverReplacesAnExistingTarget) {
    ScratchDirectory directory;
    writeFile("from", "new");
    writeFile("to", "old");
    EXPECT_EQ(platform::kErrorFileExists, platform::renameFile("from", "to"));
    EXPECT_EQ("old", readFile("to"));
    EXPECT_EQ(0, platform::deleteFile("to"));
    EXPECT_EQ(platform::kErrorFileNotFound, platform::deleteFile("to"));
    EXPECT_EQ(0, platform::renameFile("from", "to"));
    EXPECT_EQ("new", readFile("to"));
    EXPECT_FALSE(fileExists("from"));
}

}  // namespace
