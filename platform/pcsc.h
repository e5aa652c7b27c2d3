// PC/SC smart-card service: the published calls with Windows values on every platform.
// Result codes, states and protocols are those of WinSCard; the POSIX implementation maps
// pcsc-lite's answers onto them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using PcscResult = std::uint32_t;
using PcscContext = std::uintptr_t;
using PcscCard = std::uintptr_t;

constexpr PcscResult pcscSuccess = 0;
constexpr PcscResult pcscInvalidParameter = 0x80100004;
constexpr PcscResult pcscInsufficientBuffer = 0x80100008;
constexpr PcscResult pcscSharingViolation = 0x8010000B;
constexpr PcscResult pcscNoService = 0x8010001D;
constexpr PcscResult pcscNoReadersAvailable = 0x8010002E;

constexpr std::uint32_t pcscScopeUser = 0;
constexpr std::uint32_t pcscInfinite = 0xFFFFFFFF;
constexpr std::uint32_t pcscShareShared = 2;
constexpr std::uint32_t pcscProtocolT0 = 0x1;
constexpr std::uint32_t pcscProtocolT1 = 0x2;
constexpr std::uint32_t pcscProtocolRaw = 0x10000;
constexpr std::uint32_t pcscLeaveCard = 0;
constexpr std::uint32_t pcscStateUnaware = 0x0;
constexpr std::uint32_t pcscStatePresent = 0x20;

// Room for an ATR in a reader-state record (the Windows record's size).
constexpr std::size_t pcscReaderStateAtrRoom = 36;

struct PcscReaderState {
    const char* reader;
    std::uint32_t currentState;
    std::uint32_t eventState;
    std::uint32_t atrLength;
    unsigned char atr[pcscReaderStateAtrRoom];
};

PcscResult pcscEstablishContext(std::uint32_t scope, PcscContext* context);
PcscResult pcscReleaseContext(PcscContext context);

// Multi-string listings: a null buffer asks for the size in characters.
PcscResult pcscListReaders(PcscContext context, const char* groups, char* readers, std::uint32_t* length);
// pcsc-lite keeps no card database: there the list is always empty.
PcscResult pcscListCards(PcscContext context, const unsigned char* atr, const void* interfaces,
                         std::uint32_t interfaceCount, char* cards, std::uint32_t* length);
PcscResult pcscListReaderGroups(PcscContext context, char* groups, std::uint32_t* length);

PcscResult pcscGetStatusChange(PcscContext context, std::uint32_t timeout, PcscReaderState* states,
                               std::uint32_t count);
PcscResult pcscConnect(PcscContext context, const char* reader, std::uint32_t shareMode,
                       std::uint32_t preferredProtocols, PcscCard* card, std::uint32_t* activeProtocol);
// state: 0 (unknown) to 6 (specific); protocol: T=0 1, T=1 2, raw 0x10000.
PcscResult pcscStatus(PcscCard card, char* readerName, std::uint32_t* readerLength, std::uint32_t* state,
                      std::uint32_t* protocol, unsigned char* atr, std::uint32_t* atrLength);
PcscResult pcscDisconnect(PcscCard card, std::uint32_t disposition);

// Zero-filled block from the process heap; null when memory is short.
void* pcscAllocateZeroed(std::size_t bytes);
// 0, or the platform's last error when the heap refuses the block.
PcscResult pcscFree(void* block);

}  // namespace platform
