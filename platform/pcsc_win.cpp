// PC/SC on WinSCard: the published ANSI calls, passed through.
#include <windows.h>
#include <winscard.h>

#include "pcsc.h"
#include "pcsc_native.h"

namespace platform {
namespace {

using pcscnative::result;

// Enough for any table our callers build; WinSCard itself takes any count.
constexpr std::uint32_t largestReaderTable = 64;

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
    return pcscnative::withLength<DWORD>(
        length, [&](DWORD* wide) { return SCardListReadersA(context, groups, readers, wide); });
}

PcscResult pcscListCards(PcscContext context, const unsigned char* atr, const void* interfaces,
                         std::uint32_t interfaceCount, char* cards, std::uint32_t* length) {
    return pcscnative::withLength<DWORD>(length, [&](DWORD* wide) {
        return SCardListCardsA(context, atr, static_cast<LPCGUID>(interfaces), interfaceCount, cards, wide);
    });
}

PcscResult pcscListReaderGroups(PcscContext context, char* groups, std::uint32_t* length) {
    return pcscnative::withLength<DWORD>(length,
                                         [&](DWORD* wide) { return SCardListReaderGroupsA(context, groups, wide); });
}

PcscResult pcscGetStatusChange(PcscContext context, std::uint32_t timeout, PcscReaderState* states,
                               std::uint32_t count) {
    return pcscnative::statusChange<SCARD_READERSTATEA, largestReaderTable>(
        states, count,
        [&](SCARD_READERSTATEA* native) { return SCardGetStatusChangeA(context, timeout, native, count); });
}

PcscResult pcscConnect(PcscContext context, const char* reader, std::uint32_t shareMode,
                       std::uint32_t preferredProtocols, PcscCard* card, std::uint32_t* activeProtocol) {
    return pcscnative::connect<SCARDHANDLE, DWORD>(card, activeProtocol, [&](SCARDHANDLE* handle, DWORD* protocol) {
        return SCardConnectA(context, reader, shareMode, preferredProtocols, handle, protocol);
    });
}

PcscResult pcscStatus(PcscCard card, char* readerName, std::uint32_t* readerLength, std::uint32_t* state,
                      std::uint32_t* protocol, unsigned char* atr, std::uint32_t* atrLength) {
    return pcscnative::status<DWORD>(
        readerLength, state, protocol, atrLength,
        [&](DWORD* nameLength, DWORD* wideState, DWORD* wideProtocol, DWORD* wideAtrLength) {
            return SCardStatusA(card, readerName, nameLength, wideState, wideProtocol, atr, wideAtrLength);
        });
}

PcscResult pcscDisconnect(PcscCard card, std::uint32_t disposition) {
    return result(SCardDisconnect(card, disposition));
}

void* pcscAllocateZeroed(std::size_t bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

PcscResult pcscFree(void* block) {
    if (!block) return pcscSuccess;
    if (HeapFree(GetProcessHeap(), 0, block)) return pcscSuccess;
    return GetLastError();
}

}  // namespace platform
