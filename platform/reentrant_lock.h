// A lock for state shared by the whole process that the thread holding it may take again: it
// is free once left as often as it was taken. A lock of static storage is ready before any
// code runs, so no thread has to set it up first.
#pragma once

#include <atomic>
#include <cstdint>

#if defined(_WIN32)
namespace platform {
using SystemLock = void*;  // an SRW lock; zero is free
}  // namespace platform
#define PLATFORM_SYSTEM_LOCK_FREE nullptr
#else
#include <pthread.h>
namespace platform {
using SystemLock = pthread_mutex_t;
}  // namespace platform
#define PLATFORM_SYSTEM_LOCK_FREE PTHREAD_MUTEX_INITIALIZER
#endif

namespace platform {

// The system's lock, which a thread may not take twice.
void acquireSystemLock(SystemLock* lock);
void releaseSystemLock(SystemLock* lock);
// The calling thread as a number no other living thread has; never zero.
uintptr_t currentThreadToken();

struct ReentrantLock {
    SystemLock system = PLATFORM_SYSTEM_LOCK_FREE;
    // The holder's token, zero when free. Only the holder ever finds its own token here, so a
    // relaxed read tells a thread whether it holds the lock.
    std::atomic<uintptr_t> owner{0};
    unsigned long depth = 0;  // touched by the holder only
};

inline void enterLock(ReentrantLock& lock) {
    uintptr_t self = currentThreadToken();
    if (lock.owner.load(std::memory_order_relaxed) == self) {
        ++lock.depth;
        return;
    }
    acquireSystemLock(&lock.system);
    lock.owner.store(self, std::memory_order_relaxed);
    lock.depth = 1;
}

inline void leaveLock(ReentrantLock& lock) {
    if (--lock.depth != 0) return;
    lock.owner.store(0, std::memory_order_relaxed);
    releaseSystemLock(&lock.system);
}

inline bool heldByThisThread(const ReentrantLock& lock) {
    return lock.owner.load(std::memory_order_relaxed) == currentThreadToken();
}

}  // namespace platform
