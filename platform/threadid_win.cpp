#include "threadid.h"

#include <windows.h>

namespace platform {

uint32_t currentThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }

}  // namespace platform
