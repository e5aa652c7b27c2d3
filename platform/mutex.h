// A process-local mutex that is not initially owned.
#pragma once

namespace platform {

using MutexHandle = void*;

// Null when the mutex cannot be created; the other operations accept null and do nothing.
MutexHandle createMutex();
void waitMutex(MutexHandle mutex);
void releaseMutex(MutexHandle mutex);

}  // namespace platform
