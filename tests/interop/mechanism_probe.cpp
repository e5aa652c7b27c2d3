// Asks a module for one mechanism's information twice: into a cleared CK_MECHANISM_INFO and
// into one whose flags already hold the given bits. A module that fills the structure prints
// the same flags twice; one that ORs into it keeps the caller's bits in the second answer.
//   interop_mechanism_probe MODULE SLOT MECHANISM PREFILL    (numbers in hex)
//   prints "cleared 0x..." and "prefilled 0x..."
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cryptoki.h"
#include "dynlib.h"

namespace {

int fail(const char* what, CK_RV rv) {
    std::fprintf(stderr, "interop_mechanism_probe: %s failed: 0x%lx\n", what, static_cast<unsigned long>(rv));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s MODULE SLOT MECHANISM PREFILL\n", argv[0]);
        return 2;
    }
    CK_SLOT_ID slot = std::strtoul(argv[2], nullptr, 16);
    CK_MECHANISM_TYPE mechanism = std::strtoul(argv[3], nullptr, 16);
    CK_FLAGS prefill = std::strtoul(argv[4], nullptr, 16);
    platform::LibraryHandle module = platform::loadLibrary(argv[1]);
    if (module == nullptr) return fail("loading the module", CKR_GENERAL_ERROR);
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(platform::findSymbol(module, "C_GetFunctionList"));
    if (getFunctionList == nullptr) return fail("C_GetFunctionList lookup", CKR_GENERAL_ERROR);
    CK_FUNCTION_LIST_PTR functions = nullptr;
    CK_RV rv = getFunctionList(&functions);
    if (rv != CKR_OK) return fail("C_GetFunctionList", rv);
    rv = functions->C_Initialize(nullptr);
    if (rv != CKR_OK) return fail("C_Initialize", rv);
    CK_MECHANISM_INFO cleared;
    std::memset(&cleared, 0, sizeof cleared);
    rv = functions->C_GetMechanismInfo(slot, mechanism, &cleared);
    if (rv != CKR_OK) return fail("C_GetMechanismInfo", rv);
    CK_MECHANISM_INFO prefilled;
    std::memset(&prefilled, 0, sizeof prefilled);
    prefilled.flags = prefill;
    rv = functions->C_GetMechanismInfo(slot, mechanism, &prefilled);
    if (rv != CKR_OK) return fail("C_GetMechanismInfo", rv);
    std::printf("cleared 0x%lx\nprefilled 0x%lx\n", static_cast<unsigned long>(cleared.flags),
                static_cast<unsigned long>(prefilled.flags));
    functions->C_Finalize(nullptr);
    platform::releaseLibrary(module);
    return 0;
}
