#include "handles.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "allocation.h"

namespace {

// Only a CK_ULONG wider than a Java int needs aliases at all.
constexpr bool wideHandles = sizeof(CK_ULONG) > sizeof(uint32_t);

// Aliases count down from the top of the 32-bit range, far from the small numbers modules use
// for the handles they hand out; all ones is left alone. A handle the module hands out inside
// the range is aliased too, so that no number there is ever taken for what it is not.
constexpr uint32_t topAlias = 0xFFFFFFFEu;
constexpr uint32_t lowestAlias = 0xFF000000u;
constexpr uint32_t aliasRange = topAlias - lowestAlias + 1;
constexpr size_t maximumRecords = size_t(1) << 20;
static_assert(maximumRecords <= aliasRange, "every record has an alias of its own");

// A record: the handle, what owns it (a session's slot, an object's session), and whether Java
// sees an alias for it or the handle itself (a session that fits is kept only for its slot, so
// that closeAllSessions finds the objects of its sessions).
struct Record {
    CK_ULONG handle;
    CK_ULONG owner;
    HandleKind kind;
    bool used;
    bool aliased;
    uint32_t nextFree;  // entry + 1 of the next free record, 0 at the end
};

// Record i has alias topAlias - ((base + i) mod aliasRange). Freed records are reused oldest
// first; `used` records never move, so an alias stays put while it lives. Each finalize moves
// the base past every record of that module's life, so its aliases resolve to no record of
// the next module until the whole range has gone round. An open-addressing index (entry + 1;
// 0 is a free place) of twice the room finds a record by kind, owner key and handle.
struct Table {
    Record* records;
    size_t count;  // records ever handed out in this module's life
    size_t room;
    uint32_t* index;
    size_t live;
    size_t liveObjects;
    uint32_t firstFree, lastFree;  // entry + 1, 0 when none
    uint32_t base;
};

Table table = {};

// Objects are told apart by their session too: each session's peers of an object have an
// alias of their own, which goes with that session.
CK_ULONG ownerKey(HandleKind kind, CK_ULONG owner) { return kind == HandleKind::Object ? owner : 0; }

size_t placeOf(HandleKind kind, CK_ULONG key, CK_ULONG handle, size_t places) {
    uint64_t mixed = (static_cast<uint64_t>(handle) ^ (static_cast<uint64_t>(key) * 0xC2B2AE3D27D4EB4Full) ^
                      static_cast<uint64_t>(kind)) *
                     0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(mixed >> 32) & (places - 1);
}

size_t placeOfRecord(size_t entry, size_t places) {
    const Record& r = table.records[entry];
    return placeOf(r.kind, ownerKey(r.kind, r.owner), r.handle, places);
}

constexpr size_t none = ~size_t(0);

// The index place holding the record, or none.
size_t findPlace(HandleKind kind, CK_ULONG key, CK_ULONG handle) {
    if (table.room == 0) return none;
    size_t places = 2 * table.room;
    for (size_t place = placeOf(kind, key, handle, places);; place = (place + 1) & (places - 1)) {
        uint32_t entry = table.index[place];
        if (entry == 0) return none;
        const Record& r = table.records[entry - 1];
        if (r.kind == kind && r.handle == handle && ownerKey(r.kind, r.owner) == key) return place;
    }
}

void insertIndex(uint32_t* index, size_t places, size_t entry) {
    size_t place = placeOfRecord(entry, places);
    while (index[place] != 0) place = (place + 1) & (places - 1);
    index[place] = static_cast<uint32_t>(entry + 1);
}

// Empties a place, moving later members of its run back so that every search still finds them.
void removeFromIndex(size_t hole) {
    size_t mask = 2 * table.room - 1;
    for (size_t next = (hole + 1) & mask; table.index[next] != 0; next = (next + 1) & mask) {
        size_t home = placeOfRecord(table.index[next] - 1, mask + 1);
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            table.index[hole] = table.index[next];
            hole = next;
        }
    }
    table.index[hole] = 0;
}

bool grow() {
    size_t room = table.room == 0 ? 16 : 2 * table.room;
    if (room > maximumRecords) return false;
    auto records = static_cast<Record*>(allocateElements(room, sizeof(Record)));
    auto index = static_cast<uint32_t*>(allocateElements(2 * room, sizeof(uint32_t)));
    if (records == nullptr || index == nullptr) {
        std::free(records);
        std::free(index);
        return false;
    }
    if (table.count > 0) std::memcpy(records, table.records, table.count * sizeof(Record));
    std::memset(index, 0, 2 * room * sizeof(uint32_t));
    std::free(table.records);
    std::free(table.index);
    table.records = records;
    table.index = index;
    table.room = room;
    for (size_t i = 0; i < table.count; i++)
        if (records[i].used) insertIndex(index, 2 * room, i);
    return true;
}

// A free record (oldest freed first), or none when no room can be had.
size_t takeRecord() {
    if (table.firstFree != 0) {
        size_t entry = table.firstFree - 1;
        table.firstFree = table.records[entry].nextFree;
        if (table.firstFree == 0) table.lastFree = 0;
        return entry;
    }
    if (table.count == table.room && !grow()) return none;
    return table.count++;
}

void removeAt(size_t place) {
    size_t entry = table.index[place] - 1;
    removeFromIndex(place);
    Record& r = table.records[entry];
    if (r.kind == HandleKind::Object) table.liveObjects--;
    r.used = false;
    r.nextFree = 0;
    if (table.lastFree != 0)
        table.records[table.lastFree - 1].nextFree = static_cast<uint32_t>(entry + 1);
    else
        table.firstFree = static_cast<uint32_t>(entry + 1);
    table.lastFree = static_cast<uint32_t>(entry + 1);
    table.live--;
}

void forgetObjectsOf(CK_SESSION_HANDLE session) {
    for (size_t i = 0; table.liveObjects > 0 && i < table.count; i++) {
        const Record& r = table.records[i];
        if (r.used && r.kind == HandleKind::Object && r.owner == session)
            removeAt(findPlace(HandleKind::Object, session, r.handle));
    }
}

bool needsAlias(CK_ULONG handle) {
    return static_cast<uint64_t>(handle) > 0xFFFFFFFFull || (handle >= lowestAlias && handle <= topAlias);
}

jint aliasOf(size_t entry) {
    return static_cast<jint>(topAlias - static_cast<uint32_t>((table.base + entry) % aliasRange));
}

}  // namespace

bool handleIsKept(HandleKind kind, CK_ULONG handle) {
    return wideHandles && (kind == HandleKind::Session || needsAlias(handle));
}

bool handleToJava(HandleKind kind, CK_ULONG owner, CK_ULONG handle, jint* value) {
    if (!handleIsKept(kind, handle)) {
        *value = static_cast<jint>(static_cast<uint32_t>(handle));
        return true;
    }
    size_t entry;
    size_t place = findPlace(kind, ownerKey(kind, owner), handle);
    if (place != none) {
        entry = table.index[place] - 1;
        // The module hands out a session handle again only once the earlier session is gone.
        if (kind == HandleKind::Session) forgetObjectsOf(handle);
        table.records[entry].owner = owner;
    } else {
        entry = takeRecord();
        if (entry == none) return false;
        table.records[entry] = Record{handle, owner, kind, true, needsAlias(handle), 0};
        insertIndex(table.index, 2 * table.room, entry);
        table.live++;
        if (kind == HandleKind::Object) table.liveObjects++;
    }
    *value = table.records[entry].aliased ? aliasOf(entry) : static_cast<jint>(static_cast<uint32_t>(handle));
    return true;
}

CK_ULONG handleFromJava(HandleKind kind, jint value) {
    uint32_t bits = static_cast<uint32_t>(value);
    if (!wideHandles || bits < lowestAlias || bits > topAlias) return static_cast<CK_ULONG>(bits);
    size_t entry = (topAlias - bits + aliasRange - table.base % aliasRange) % aliasRange;
    if (entry >= table.count) return CK_INVALID_HANDLE;
    const Record& r = table.records[entry];
    return r.used && r.aliased && r.kind == kind ? r.handle : CK_INVALID_HANDLE;
}

void forgetSession(CK_SESSION_HANDLE session) {
    if (!wideHandles) return;
    size_t place = findPlace(HandleKind::Session, 0, session);
    if (place != none) removeAt(place);
    forgetObjectsOf(session);
}

void forgetSlotSessions(CK_SLOT_ID slot) {
    for (size_t i = 0; i < table.count; i++) {
        const Record& r = table.records[i];
        if (r.used && r.kind == HandleKind::Session && r.owner == slot) forgetSession(r.handle);
    }
}

void forgetObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    if (table.liveObjects == 0) return;
    size_t place = findPlace(HandleKind::Object, session, object);
    if (place != none) removeAt(place);
}

void forgetHandles() {
    uint32_t base = static_cast<uint32_t>((table.base + table.count) % aliasRange);
    std::free(table.records);
    std::free(table.index);
    table = {};
    table.base = base;
}

size_t keptHandleCount() { return table.live; }
