// The POSIX file operations keep the Windows semantics the update relies on.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <iterator>

#include "fileops.h"
#include "install_support.h"
#include "test_support.h"

namespace {

TEST(FileOps, CreateNewFileRefusesAnExistingName) {
    ScratchDirectory directory;
    EXPECT_EQ(0, platform::createNewFile("probe"));
    platform::FileInfo info{-1, -1};
    EXPECT_EQ(0, platform::fileInfo("probe", &info));
    EXPECT_EQ(0, info.size);
    EXPECT_EQ(platform::kErrorFileExists, platform::createNewFile("probe"));
    EXPECT_EQ(platform::kErrorFileNotFound, platform::createNewFile("missing/probe"));
    EXPECT_EQ(platform::kErrorFileNotFound, platform::fileInfo("missing", &info));

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
