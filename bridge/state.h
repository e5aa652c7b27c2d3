// The bridge's one process-wide record, zero at load, and the lock that guards it.
#pragma once

#include "cryptoki.h"
#include "dynlib.h"
#include "reentrant_lock.h"

struct BridgeState {
    int traceEnabled;
    platform::LibraryHandle moduleHandle;
    CK_FUNCTION_LIST_PTR functionList;
    int moduleInitialized;
    CK_C_OpenSessionAndGetRSACredential rsaCredentialEntry;
};

inline BridgeState bridgeState = {};

// The one rule of the bridge: every native holds bridgeLock from its first step to its
// return (BridgeLockHold). That keeps each of these apart from every other thread: the
// module, which is initialised without threading arguments and so locks nothing itself; this
// record; the kept Java classes and members; the handle aliases; and the trace, whose lines
// of one native thus stay together. A native calls Java code (constructors, exceptions) while
// it holds the lock, and that code may call the bridge again on the same thread: the lock is
// re-entrant, and a native re-reads the state through the wrappers after every such call.
inline platform::ReentrantLock bridgeLock;

class BridgeLockHold {
public:
    BridgeLockHold() { platform::enterLock(bridgeLock); }
    ~BridgeLockHold() { platform::leaveLock(bridgeLock); }
    BridgeLockHold(const BridgeLockHold&) = delete;
    BridgeLockHold& operator=(const BridgeLockHold&) = delete;
};
