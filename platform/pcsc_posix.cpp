// PC/SC on pcsc-lite: DWORD is unsigned long here, card states are bit masks and the raw
// protocol has its own value, so answers are narrowed and mapped to the Windows values.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <cstdlib>

#include "pcsc.h"
#include "pcsc_native.h"

namespace platform {
namespace {

using pcscnative::result;

// pcsc-lite serves at most this many readers to one context.
constexpr std::uint32_t largestReaderTable = PCSCLITE_MAX_READERS_CONTEXTS;

// SCARD_ABSENT 0x2 ... SCARD_SPECIFIC 0x40 become 1 ... 6; the upper 16 bits hold an event counter.
std::uint32_t windowsCardState(std::uint32_t state) {
    std::uint32_t bits = state & 0xFFFF;
    std::uint32_t highest = 0;
    while (bits >>= 1) ++highest;
    return highest;
}

std::uint32_t windowsProtocol(std::uint32_t protocol) {
    return protocol == SCARD_PROTOCOL_RAW ? pcscProtocolRaw : protocol;
}

}  // namespace

PcscResult pcscEstablishContext(std::uint32_t scope, PcscContext* context) {
    if (!context) return pcscInvalidParameter;
    SCARDCONTEXT handle = 0;
    PcscResult rv = result(SCardEstablishContext(scope, nullptr, nullptr, &handle));
    *context = static_cast<PcscContext>(handle);
    return rv;
}

PcscResult pcscReleaseContext(PcscContext context) { return result(SCardReleaseContext(context)); }

PcscResult pcscListReaders(PcscContext context, const char* groups, char* readers, std::uint32_t* length) {
    return pcscnative::withLength<DWORD>(length,
                                         [&](DWORD* wide) { return SCardListReaders(context, groups, readers, wide); });
}

// pcsc-lite keeps no card database: the list is the empty multi-string, one terminating zero.
PcscResult pcscListCards(PcscContext context, const unsigned char*, const void*, std::uint32_t, char* cards,
                         std::uint32_t* length) {
    if (!length) return pcscInvalidParameter;
    PcscResult rv = result(SCardIsValidContext(context));
    if (rv != pcscSuccess) return rv;
    if (cards) {
        if (*length < 1) {
            *length = 1;
            return pcscInsufficientBuffer;
        }
        cards[0] = '\0';
    }
    *length = 1;
    return pcscSuccess;
}

PcscResult pcscListReaderGroups(PcscContext context, char* groups, std::uint32_t* length) {
    return pcscnative::withLength<DWORD>(length,
                                         [&](DWORD* wide) { return SCardListReaderGroups(context, groups, wide); });
}

PcscResult pcscGetStatusChange(PcscContext context, std::uint32_t timeout, PcscReaderState* states,
                               std::uint32_t count) {
    // pcsc-lite's "infinite" is its own DWORD all-ones.
    const DWORD wait = timeout == pcscInfinite ? INFINITE : timeout;
    return pcscnative::statusChange<SCARD_READERSTATE, largestReaderTable>(
        states, count, [&](SCARD_READERSTATE* native) { return SCardGetStatusChange(context, wait, native, count); });
}

PcscResult pcscConnect(PcscContext context, const char* reader, std::uint32_t shareMode,
                       std::uint32_t preferredProtocols, PcscCard* card, std::uint32_t* activeProtocol) {
    PcscResult rv =
        pcscnative::connect<SCARDHANDLE, DWORD>(card, activeProtocol, [&](SCARDHANDLE* handle, DWORD* protocol) {
            return SCardConnect(context, reader, shareMode, preferredProtocols, handle, protocol);
        });
    if (activeProtocol) *activeProtocol = windowsProtocol(*activeProtocol);
    return rv;
}

PcscResult pcscStatus(PcscCard card, char* readerName, std::uint32_t* readerLength, std::uint32_t* state,
                      std::uint32_t* protocol, unsigned char* atr, std::uint32_t* atrLength) {
    PcscResult rv = pcscnative::status<DWORD>(
        readerLength, state, protocol, atrLength,
        [&](DWORD* nameLength, DWORD* wideState, DWORD* wideProtocol, DWORD* wideAtrLength) {
            return SCardStatus(card, readerName, nameLength, wideState, wideProtocol, atr, wideAtrLength);
        });
    if (state) *state = windowsCardState(*state);
    if (protocol) *protocol = windowsProtocol(*protocol);
    return rv;
}

PcscResult pcscDisconnect(PcscCard card, std::uint32_t disposition) {
    return result(SCardDisconnect(card, disposition));
}

void* pcscAllocateZeroed(std::size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }

PcscResult pcscFree(void* block) {
    std::free(block);
    return pcscSuccess;
}

}  // namespace platform
