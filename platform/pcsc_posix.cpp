// PC/SC on pcsc-lite: DWORD is unsigned long here, card states are bit masks and the raw
// protocol has its own value, so answers are narrowed and mapped to the Windows values.
#include "pcsc.h"

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// pcsc-lite serves at most this many readers to one context.
constexpr std::uint32_t largestReaderTable = PCSCLITE_MAX_READERS_CONTEXTS;

PcscResult fromLong(LONG rv) { return static_cast<PcscResult>(rv); }

std::uint32_t narrow(DWORD value) { return value > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(value); }

// SCARD_ABSENT 0x2 ... SCARD_SPECIFIC 0x40 become 1 ... 6; the upper 16 bits hold an event counter.
std::uint32_t windowsCardState(DWORD state) {
  std::uint32_t bits = static_cast<std::uint32_t>(state & 0xFFFF);
  std::uint32_t highest = 0;
  while (bits >>= 1) ++highest;
  return highest;
}

std::uint32_t windowsProtocol(DWORD protocol) {
  return protocol == SCARD_PROTOCOL_RAW ? pcscProtocolRaw : narrow(protocol);
}

// A listing into a caller's DWORD-sized length.
template <typename Listing>
PcscResult listInto(std::uint32_t* length, Listing listing) {
  if (!length) return pcscInvalidParameter;
  DWORD wide = *length;
  PcscResult rv = fromLong(listing(&wide));
  *length = narrow(wide);
  return rv;
}

}  // namespace

PcscResult pcscEstablishContext(std::uint32_t scope, PcscContext* context) {
  if (!context) return pcscInvalidParameter;
  SCARDCONTEXT handle = 0;
  PcscResult rv = fromLong(SCardEstablishContext(scope, nullptr, nullptr, &handle));
  *context = static_cast<PcscContext>(handle);
  return rv;
}

PcscResult pcscReleaseContext(PcscContext context) { return fromLong(SCardReleaseContext(context)); }

PcscResult pcscListReaders(PcscContext context, const char* groups, char* readers, std::uint32_t* length) {
  return listInto(length, [&](DWORD* wide) { return SCardListReaders(context, groups, readers, wide); });
}

PcscResult pcscListCards(PcscContext context, const unsigned char*, const void*, std::uint32_t, char* cards,
                         std::uint32_t* length) {
  if (!length) return pcscInvalidParameter;
  PcscResult rv = fromLong(SCardIsValidContext(context));
  if (rv != pcscSuccess) return rv;
  // The empty multi-string: one terminating zero.
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
  return listInto(length, [&](DWORD* wide) { return SCardListReaderGroups(context, groups, wide); });
}

PcscResult pcscGetStatusChange(PcscContext context, std::uint32_t timeout, PcscReaderState* states,
                               std::uint32_t count) {
  if (count > largestReaderTable || (count > 0 && !states)) return pcscInvalidParameter;
  SCARD_READERSTATE native[largestReaderTable];
  std::memset(native, 0, sizeof native);
  for (std::uint32_t i = 0; i < count; ++i) {
    native[i].szReader = states[i].reader;
    native[i].dwCurrentState = states[i].currentState;
  }
  // pcsc-lite's "infinite" is its own DWORD all-ones.
  DWORD wait = timeout == pcscInfinite ? INFINITE : timeout;
  PcscResult rv = fromLong(SCardGetStatusChange(context, wait, native, count));
  for (std::uint32_t i = 0; i < count; ++i) {
    states[i].eventState = narrow(native[i].dwEventState);
    std::size_t atrLength = native[i].cbAtr;
    if (atrLength > sizeof native[i].rgbAtr) atrLength = sizeof native[i].rgbAtr;
    if (atrLength > pcscReaderStateAtrRoom) atrLength = pcscReaderStateAtrRoom;
    states[i].atrLength = static_cast<std::uint32_t>(atrLength);
    std::memcpy(states[i].atr, native[i].rgbAtr, atrLength);
  }
  return rv;
}

PcscResult pcscConnect(PcscContext context, const char* reader, std::uint32_t shareMode,
                       std::uint32_t preferredProtocols, PcscCard* card, std::uint32_t* activeProtocol) {
  if (!card || !activeProtocol) return pcscInvalidParameter;
  SCARDHANDLE handle = 0;
  DWORD protocol = 0;
  PcscResult rv = fromLong(SCardConnect(context, reader, shareMode, preferredProtocols, &handle, &protocol));
  *card = static_cast<PcscCard>(handle);
  *activeProtocol = windowsProtocol(protocol);
  return rv;
}

PcscResult pcscStatus(PcscCard card, char* readerName, std::uint32_t* readerLength, std::uint32_t* state,
                      std::uint32_t* protocol, unsigned char* atr, std::uint32_t* atrLength) {
  if (!readerLength || !state || !protocol || !atrLength) return pcscInvalidParameter;
  DWORD nameLength = *readerLength;
  DWORD wideState = 0;
  DWORD wideProtocol = 0;
  DWORD wideAtrLength = *atrLength;
  PcscResult rv = fromLong(
      SCardStatus(card, readerName, &nameLength, &wideState, &wideProtocol, atr, &wideAtrLength));
  *readerLength = narrow(nameLength);
  *state = windowsCardState(wideState);
  *protocol = windowsProtocol(wideProtocol);
  *atrLength = narrow(wideAtrLength);
  return rv;
}

PcscResult pcscDisconnect(PcscCard card, std::uint32_t disposition) {
  return fromLong(SCardDisconnect(card, disposition));
}

void* pcscAllocateZeroed(std::size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }

PcscResult pcscFree(void* block) {
  std::free(block);
  return pcscSuccess;
}

}  // namespace platform
