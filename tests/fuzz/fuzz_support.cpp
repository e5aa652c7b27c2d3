#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string scratchPath;
int scratchDirectory = -1;
int startDirectory = -1;

void removeScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchPath, ignored);
}

void enter(int directory) {
    if (fchdir(directory) != 0) {
        std::perror("fchdir");
        std::abort();
    }
}

}  // namespace

void makeScratchDirectory() {
    // In memory where the system has a memory file system: the targets write a file per input.
    std::error_code noShm;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", noShm) && access("/dev/shm", W_OK) == 0
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "vantrel-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("scratch directory");
        std::abort();
    }
    scratchPath = pattern;
    scratchDirectory = open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    startDirectory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scratchDirectory < 0 || startDirectory < 0) {
        std::perror("open directory");
        std::abort();
    }
    std::atexit(removeScratchDirectory);
}

InScratchDirectory::InScratchDirectory() { enter(scratchDirectory); }

InScratchDirectory::~InScratchDirectory() { enter(startDirectory); }

void silenceStandardOutput() {
    std::fflush(stdout);
    int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) {
        dup2(quiet, 1);
        close(quiet);
    }
}

void fuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, condition);
    std::abort();
}
