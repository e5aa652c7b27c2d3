// What the fuzz targets need around the code they drive.
#pragma once

// Makes a fresh folder (in /dev/shm when there is one, else the system temp folder) the current
// directory for the rest of the run (the code under test writes its files there); it is
// removed when the run ends.
void enterScratchDirectory();

// Sends standard output to /dev/null: the code under test prints, libFuzzer reports on
// standard error.
void silenceStandardOutput();

// A property of the code under test that must hold for every input: a failure aborts, so
// libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzzCheckFailed(#condition, __FILE__, __LINE__))
[[noreturn]] void fuzzCheckFailed(const char* condition, const char* file, int line);
