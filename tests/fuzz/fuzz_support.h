// What the fuzz targets need around the code they drive.
#pragma once

// Makes a fresh folder (in /dev/shm when there is one, else the system temp folder) for the
// files the code under test writes in its current directory; it is removed when the run ends.
// Call from LLVMFuzzerInitialize.
void makeScratchDirectory();

// The scratch folder is the current directory while one lives; libFuzzer's own paths, relative
// to the directory it was started in, keep working between inputs.
struct InScratchDirectory {
    InScratchDirectory();
    ~InScratchDirectory();
    InScratchDirectory(const InScratchDirectory&) = delete;
    InScratchDirectory& operator=(const InScratchDirectory&) = delete;
};

// Sends standard output to /dev/null: the code under test prints, libFuzzer reports on
// standard error.
void silenceStandardOutput();

// A property of the code under test that must hold for every input: a failure aborts, so
// libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzzCheckFailed(#condition, __FILE__, __LINE__))
[[noreturn]] void fuzzCheckFailed(const char* condition, const char* file, int line);
