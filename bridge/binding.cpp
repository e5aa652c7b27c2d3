#include "binding.h"

#include "handles.h"
#include "results.h"
#include "trace.h"

CK_RV bindModule(const char* path, CK_FUNCTION_LIST_PTR* functionList) {
    trace("JNI:BRIDGE: Start loading library...");
    // An earlier handle is replaced, not released: its function list may still be in use.
    bridgeState.moduleHandle = platform::loadLibrary(path);
    trace(" Done: " BRIDGE_PRIxADDR "\n", BRIDGE_ADDR(bridgeState.moduleHandle));
    if (bridgeState.moduleHandle == nullptr) return BRIDGE_ERR_NO_FUNCTION;

    trace("JNI:BRIDGE: Getting FuncList address...");
    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(platform::findSymbol(bridgeState.moduleHandle, "C_GetFunctionList"));
    trace(" Done: " BRIDGE_PRIxADDR "\n", BRIDGE_ADDR(getFunctionList));
    if (getFunctionList == nullptr) return BRIDGE_ERR_NO_FUNCTION;

    trace("JNI:BRIDGE: Calling FuncList...");
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_RV rv = getFunctionList(&list);
    trace(" Done: " BRIDGE_PRIxADDR "\n", BRIDGE_ADDR(list));
    if (rv != CKR_OK) return rv;
    if (list == nullptr) return BRIDGE_ERR_NO_FUNCTION;
    bridgeState.functionList = list;
    // The extension entry belonged to whatever module was bound before.
    bridgeState.rsaCredentialEntry = nullptr;
    *functionList = list;
    return CKR_OK;
}

void releaseModule() {
    if (bridgeState.moduleHandle != nullptr) platform::releaseLibrary(bridgeState.moduleHandle);
    bridgeState.moduleHandle = nullptr;
    bridgeState.moduleInitialized = 0;
    // Nothing may call into a released module: forget every address that pointed into it.
    bridgeState.functionList = nullptr;
    bridgeState.rsaCredentialEntry = nullptr;
    forgetHandles();
}
