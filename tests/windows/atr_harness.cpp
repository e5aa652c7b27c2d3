// Calls atrprobe.dll's two exports by their exported names, as atrprobejni2 and a host would,
// and prints what they answered. Usage: atr_harness <verbose 0|1> [script ...]
// With scripts (for the scripted winscard.dll), getatrstr runs once under each of them.
#include <windows.h>

#include "symbol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
using GetAtrStrFn = int (*)(int verbose, unsigned char* atr, int* atrLength);
using CsGetAtrFn = int (*)();

// One getatrstr: its result, the length, the ATR and whether the bytes behind the 32 it may
// fill kept their marker.
void printGetatrstr(GetAtrStrFn getatrstr, int verbose) {
    unsigned char atr[36];
    std::memset(atr, 0xA5, sizeof atr);
    int length = -7;  // must be overwritten
    const int result = getatrstr(verbose, atr, &length);
    std::fflush(stdout);
    std::printf("\ngetatrstr=0x%08X length=%d atr=", static_cast<unsigned>(result), length);
    for (int i = 0; i < length && i < 32; ++i) std::printf("%02X", atr[i]);
    std::printf(" guard=%s\n",
                atr[32] == 0xA5 && atr[33] == 0xA5 && atr[34] == 0xA5 && atr[35] == 0xA5 ? "intact" : "overwritten");
    std::fflush(stdout);
}
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
    const int verbose = argc > 1 ? std::atoi(argv[1]) : 0;
    for (int i = 2; i < argc; ++i) {
        SetEnvironmentVariableA("PCSC_SCRIPT", argv[i]);
        std::printf("\ncase %s", argv[i]);
        printGetatrstr(getatrstr, verbose);
    }
    if (argc > 2) return 0;
    printGetatrstr(getatrstr, verbose);
    const int result = csgetatr();
    std::fflush(stdout);
    std::printf("\ncsgetatr=0x%08X\n", static_cast<unsigned>(result));
    return 0;
}
