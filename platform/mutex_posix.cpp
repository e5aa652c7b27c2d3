#include "mutex.h"

#include <pthread.h>

#include <new>

namespace platform {

MutexHandle createMutex() {
    auto* mutex = new (std::nothrow) pthread_mutex_t;
    if (mutex == nullptr) return nullptr;
    if (pthread_mutex_init(mutex, nullptr) != 0) {
        delete mutex;
        return nullptr;
    }
    return mutex;
}

void waitMutex(MutexHandle mutex) {
    if (mutex != nullptr) pthread_mutex_lock(static_cast<pthread_mutex_t*>(mutex));
}

void releaseMutex(MutexHandle mutex) {
    if (mutex != nullptr) pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex));
}

}  // namespace platform
