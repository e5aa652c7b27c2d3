#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string scratchDirectory;

void removeScratchDirectory() {
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(scratchDirectory, ignored);
}

}  // namespace

void enterScratchDirectory() {
    // In memory where the system has a memory file system: the targets write a file per input.
    std::error_code noShm;
    std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", noShm) && access("/dev/shm", W_OK) == 0
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
    std::string pattern = (base / "vantrel-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
        std::perror("scratch directory");
        std::abort();
    }
    scratchDirectory = pattern;
    std::atexit(removeScratchDirectory);
}

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
