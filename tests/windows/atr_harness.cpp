// Calls atrprobe.dll's two exports by their exported names, as atrprobejni2 and a host would,
// and prints what they answered. Usage: atr_harness <verbose 0|1>
#include <windows.h>

#include "symbol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
using GetAtrStrFn = int (*)(int verbose, unsigned char* atr, int* atrLength);
using CsGetAtrFn = int (*)();
}  // namespace

int main(int argc, char** argv) {
    HMODULE probe = LoadLibraryA("atrprobe.dll");
    if (probe == nullptr) {
        std::printf("LoadLibrary atrprobe.dll failed: %lu\n", GetLastError());
        return 1;
    }
    auto getatrstr = exportedFunction<GetAtrStrFn>(probe, "getatrstr");
    auto csgetatr = exportedFunction<CsGetAtrFn>(probe, "?csgetatr@@YAHXZ");
    if (getatrstr == nullptr || csgetatr == nullptr) {
        std::printf("exports missing\n");
        return 1;
    }
    // A length the probe must overwrite, and guard bytes behind the 32 it may fill.
    unsigned char atr[36];
    std::memset(atr, 0xA5, sizeof atr);
    int length = -7;
    int verbose = argc > 1 ? std::atoi(argv[1]) : 0;
    int result = getatrstr(verbose, atr, &length);
    std::fflush(stdout);
    std::printf("\ngetatrstr=0x%08X length=%d guard=%s\n", static_cast<unsigned>(result), length,
                atr[32] == 0xA5 && atr[33] == 0xA5 && atr[34] == 0xA5 && atr[35] == 0xA5 ? "intact" : "overwritten");
    std::fflush(stdout);
    result = csgetatr();
    std::fflush(stdout);
    std::printf("\ncsgetatr=0x%08X\n", static_cast<unsigned>(result));
    return 0;
}
