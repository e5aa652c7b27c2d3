#include "handles.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "allocation.h"

namespace {

// Aliases count down from the top of the 32-bit range, far from the small numbers modules
// use for the handles they hand out; all ones is left alone.
constexpr uint32_t firstAlias = 0xFFFFFFFEu;
constexpr size_t maximumAliases = size_t(1) << 20;

// The wide handles met so far, alias firstAlias - i for entry i, and an open-addressing index
// from handle to entry (entry + 1; 0 is a free place) of twice the room.
struct Aliases {
    CK_ULONG* handles;
    size_t count;
    size_t room;
    uint32_t* index;
};

Aliases aliases = {};

size_t placeOf(CK_ULONG handle, size_t places) {
    uint64_t mixed = static_cast<uint64_t>(handle) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(mixed >> 32) & (places - 1);
}

// The entry of `handle`, or count when it has none.
size_t find(CK_ULONG handle) {
    if (aliases.room == 0) return aliases.count;
    size_t places = 2 * aliases.room;
    for (size_t place = placeOf(handle, places);; place = (place + 1) & (places - 1)) {
        uint32_t entry = aliases.index[place];
        if (entry == 0) return aliases.count;
        if (aliases.handles[entry - 1] == handle) return entry - 1;
    }
}

void insertIndex(uint32_t* index, size_t places, CK_ULONG handle, size_t entry) {
    size_t place = placeOf(handle, places);
    while (index[place] != 0) place = (place + 1) & (places - 1);
    index[place] = static_cast<uint32_t>(entry + 1);
}

bool grow() {
    size_t room = aliases.room == 0 ? 16 : 2 * aliases.room;
    if (room > maximumAliases) return false;
    auto handles = static_cast<CK_ULONG*>(allocateElements(room, sizeof(CK_ULONG)));
    auto index = static_cast<uint32_t*>(allocateElements(2 * room, sizeof(uint32_t)));
    if (handles == nullptr || index == nullptr) {
        std::free(handles);
        std::free(index);
        return false;
    }
    std::memset(index, 0, 2 * room * sizeof(uint32_t));
    for (size_t i = 0; i < aliases.count; i++) {
        handles[i] = aliases.handles[i];
        insertIndex(index, 2 * room, handles[i], i);
    }
    std::free(aliases.handles);
    std::free(aliases.index);
    aliases.handles = handles;
    aliases.index = index;
    aliases.room = room;
    return true;
}

}  // namespace

bool handleToJava(CK_ULONG handle, jint* value) {
    if (handle == static_cast<CK_ULONG>(static_cast<uint32_t>(handle))) {  // fits 32 bits
        *value = static_cast<jint>(static_cast<uint32_t>(handle));
        return true;
    }
    size_t entry = find(handle);
    if (entry == aliases.count) {
        if (aliases.count == aliases.room && !grow()) return false;
        aliases.handles[entry] = handle;
        insertIndex(aliases.index, 2 * aliases.room, handle, entry);
        aliases.count++;
    }
    *value = static_cast<jint>(firstAlias - static_cast<uint32_t>(entry));
    return true;
}

CK_ULONG handleFromJava(jint value) {
    uint32_t bits = static_cast<uint32_t>(value);
    if (bits <= firstAlias && firstAlias - bits < aliases.count) return aliases.handles[firstAlias - bits];
    return static_cast<CK_ULONG>(bits);
}

void forgetHandles() {
    std::free(aliases.handles);
    std::free(aliases.index);
    aliases = {};
}
