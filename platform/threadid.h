// Identity of the calling thread, as a stable number that fits eight hex digits.
#pragma once

#include <cstdint>

namespace platform {

uint32_t currentThreadId();

}  // namespace platform
