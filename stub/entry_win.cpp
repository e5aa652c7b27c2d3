// The stub's entry point. It chains to the C runtime's own entry so the runtime is set up
// before the attach work; a refused attach is followed by the loader's detach call, which
// tears the runtime down again.
#include <windows.h>

#include "stub.h"

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

extern "C" BOOL WINAPI DllStubMain(HANDLE module, DWORD reason, LPVOID reserved) {
    if (reason != DLL_PROCESS_ATTACH) return DllMainCRTStartup(module, reason, reserved);
    if (!DllMainCRTStartup(module, reason, reserved)) return FALSE;
    return stubProcessAttach() ? TRUE : FALSE;
}
