// The bridge's one process-wide record, zero at load. No lock guards it: callers serialise
// their use of the bridge.
#pragma once

#include "cryptoki.h"
#include "dynlib.h"

struct BridgeState {
    int traceEnabled;
    platform::LibraryHandle moduleHandle;
    CK_FUNCTION_LIST_PTR functionList;
    int moduleInitialized;
    CK_C_OpenSessionAndGetRSACredential rsaCredentialEntry;
};

inline BridgeState bridgeState = {};
