#include "allocation.h"

void* allocateElements(size_t count, size_t size) {
    if (size == 0 || count > maximumAllocation / size) return nullptr;
    return std::malloc(count == 0 ? 1 : count * size);
}
