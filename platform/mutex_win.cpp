#include "mutex.h"

#include <windows.h>

namespace platform {

MutexHandle createMutex() { return CreateMutexW(nullptr, FALSE, nullptr); }

void waitMutex(MutexHandle mutex) {
    if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
}

void releaseMutex(MutexHandle mutex) {
    if (mutex != nullptr) ReleaseMutex(mutex);
}

}  // namespace platform
