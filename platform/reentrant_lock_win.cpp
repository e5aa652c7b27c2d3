#include "reentrant_lock.h"

#include <windows.h>

namespace platform {

static_assert(sizeof(SystemLock) == sizeof(SRWLOCK), "an SRW lock is one pointer, zero when free");

void acquireSystemLock(SystemLock* lock) { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(lock)); }

void releaseSystemLock(SystemLock* lock) { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(lock)); }

uintptr_t currentThreadToken() { return static_cast<uintptr_t>(GetCurrentThreadId()); }

}  // namespace platform
