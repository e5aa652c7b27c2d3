// The bridge's one way to the heap for native buffers: sizes no module answer needs are
// refused before they reach the allocator.
#pragma once

#include <cstddef>
#include <cstdlib>

// No module answer needs more; larger sizes are faults. Every count the bridge allocates
// for therefore fits a Java array length.
constexpr size_t maximumAllocation = size_t(1) << 28;
static_assert(maximumAllocation <= 0x7FFFFFFF, "allocated counts must fit a jsize");

// Room for `count` elements of `size` bytes (a 1-byte block when count is 0), or null when
// that is implausibly large or the heap is exhausted. Released with free().
void* allocateElements(size_t count, size_t size);

// Room for a native copy of `length` bytes of a Java array (1 byte when 0): any length a Java
// array can have, so only an exhausted heap refuses it (null). Released with free().
void* allocateArrayCopy(size_t length);

#if BRIDGE_ALLOCATION_FAULTS
// Test builds only (p11bridge_allocation_faults): from now on the nth allocation fails (0:
// none); allocationFaultPending tells whether it is still to come.
void failAllocation(unsigned long nth);
bool allocationFaultPending();
#endif

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
