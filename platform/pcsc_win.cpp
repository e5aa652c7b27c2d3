// PC/SC on WinSCard: the published ANSI calls, passed through.
#include "pcsc.h"

#include <windows.h>
#include <winscard.h>

#include <cstring>

namespace platform {
namespace {

PcscResult fromLong(LONG rv) { return static_cast<PcscResult>(rv); }

// Enough for any table our callers build; WinSCard itself takes any count.
constexpr std::uint32_t largestReaderTable = 64;

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
  if (!length) return pcscInvalidParameter;
  DWORD wide = *length;
  PcscResult rv = fromLong(SCardListReadersA(context, groups, readers, &wide));
  *length = wide;
  return rv;
}

PcscResult pcscListCards(PcscContext context, const unsigned char* atr, const void* interfaces,
                         std::uint32_t interfaceCount, char* cards, std::uint32_t* length) {
  if (!length) return pcscInvalidParameter;
  DWORD wide = *length;
  PcscResult rv = fromLong(SCardListCardsA(context, atr, static_cast<LPCGUID>(interfaces), interfaceCount,
                                           cards, &wide));
  *length = wide;
  return rv;
}

PcscResult pcscListReaderGroups(PcscContext context, char* groups, std::uint32_t* length) {
  if (!length) return pcscInvalidParameter;
  DWORD wide = *length;
  PcscResult rv = fromLong(SCardListReaderGroupsA(context, groups, &wide));
  *length = wide;
  return rv;
}

PcscResult pcscGetStatusChange(PcscContext context, std::uint32_t timeout, PcscReaderState* states,
                               std::uint32_t count) {
  if (count > largestReaderTable || (count > 0 && !states)) return pcscInvalidParameter;
  SCARD_READERSTATEA native[largestReaderTable];
  std::memset(native, 0, sizeof native);
  for (std::uint32_t i = 0; i < count; ++i) {
    native[i].szReader = states[i].reader;
    native[i].dwCurrentState = states[i].currentState;
  }
  PcscResult rv = fromLong(SCardGetStatusChangeA(context, timeout, native, count));
  for (std::uint32_t i = 0; i < count; ++i) {
    states[i].eventState = native[i].dwEventState;
    DWORD atrLength = native[i].cbAtr;
    if (atrLength > sizeof native[i].rgbAtr) atrLength = sizeof native[i].rgbAtr;
    states[i].atrLength = atrLength;
    std::memcpy(states[i].atr, native[i].rgbAtr, atrLength);
  }
  return rv;
}

PcscResult pcscConnect(PcscContext context, const char* reader, std::uint32_t shareMode,
                       std::uint32_t preferredProtocols, PcscCard* card, std::uint32_t* activeProtocol) {
  if (!card || !activeProtocol) return pcscInvalidParameter;
  SCARDHANDLE handle = 0;
  DWORD protocol = 0;
  PcscResult rv = fromLong(SCardConnectA(context, reader, shareMode, preferredProtocols, &handle, &protocol));
  *card = static_cast<PcscCard>(handle);
  *activeProtocol = protocol;
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
      SCardStatusA(card, readerName, &nameLength, &wideState, &wideProtocol, atr, &wideAtrLength));
  *readerLength = nameLength;
  *state = wideState;
  *protocol = wideProtocol;
  *atrLength = wideAtrLength;
  return rv;
}

PcscResult pcscDisconnect(PcscCard card, std::uint32_t disposition) {
  return fromLong(SCardDisconnect(card, disposition));
}

void* pcscAllocateZeroed(std::size_t bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }

PcscResult pcscFree(void* block) {
  if (!block) return pcscSuccess;
  if (HeapFree(GetProcessHeap(), 0, block)) return pcscSuccess;
  return GetLastError();
}

}  // namespace platform
