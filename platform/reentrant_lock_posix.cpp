#include "reentrant_lock.h"

namespace platform {

void acquireSystemLock(SystemLock* lock) { pthread_mutex_lock(lock); }

void releaseSystemLock(SystemLock* lock) { pthread_mutex_unlock(lock); }

uintptr_t currentThreadToken() { return static_cast<uintptr_t>(pthread_self()); }

}  // namespace platform
