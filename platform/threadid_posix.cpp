#include "threadid.h"

#include <unistd.h>

namespace platform {

uint32_t currentThreadId() { return static_cast<uint32_t>(gettid()); }

}  // namespace platform
