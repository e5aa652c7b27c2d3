// Live heap bytes for the fault drivers, which hold each run to leaving them where they were.
// Without AddressSanitizer there is no count (0), and LeakSanitizer's check at exit stands in.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
inline size_t liveHeapBytes() { return __sanitizer_get_current_allocated_bytes(); }
#else
inline size_t liveHeapBytes() { return 0; }
#endif
