#include "allocation.h"

#if BRIDGE_ALLOCATION_FAULTS
#include <atomic>

static std::atomic<unsigned long> allocationCountdown{0};

void failAllocation(unsigned long nth) { allocationCountdown = nth; }
bool allocationFaultPending() { return allocationCountdown != 0; }

// The planned allocation fails as the heap would, after the size checks.
static bool allocationRefused() {
    unsigned long left = allocationCountdown.load();
    while (left != 0 && !allocationCountdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}
#else
static bool allocationRefused() { return false; }
#endif

void* allocateElements(size_t count, size_t size) {
    if (size == 0 || count > maximumAllocation / size) return nullptr;
    if (allocationRefused()) return nullptr;
    return std::malloc(count == 0 ? 1 : count * size);
}

void* allocateArrayCopy(size_t length) {
    if (allocationRefused()) return nullptr;
    return std::malloc(length == 0 ? 1 : length);
}
