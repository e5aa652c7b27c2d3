// Conversions between the records of pcsc.h and a platform's native PC/SC calls, shared by
// pcsc_posix.cpp and pcsc_win.cpp (each includes its native PC/SC header first). Native
// DWORDs are 32 bits on Windows and 64 on pcsc-lite; lengths beyond 32 bits are capped.
#pragma once

#include <cstring>

#include "pcsc.h"

namespace platform {
namespace pcscnative {

template <typename Wide>
std::uint32_t narrow(Wide value) {
    if constexpr (sizeof(Wide) > sizeof(std::uint32_t)) {
        if (value > static_cast<Wide>(UINT32_MAX)) return UINT32_MAX;
    }
    return static_cast<std::uint32_t>(value);
}

template <typename Result>
PcscResult result(Result rv) {
    return static_cast<PcscResult>(rv);
}

// A call that takes a native length in and out, for a caller's 32-bit length.
template <typename Dword, typename Call>
PcscResult withLength(std::uint32_t* length, Call call) {
    if (!length) return pcscInvalidParameter;
    Dword wide = *length;
    PcscResult rv = result(call(&wide));
    *length = narrow(wide);
    return rv;
}

// The status-change call on a native copy of the reader table.
template <typename NativeState, std::uint32_t Capacity, typename Call>
PcscResult statusChange(PcscReaderState* states, std::uint32_t count, Call call) {
    if (count > Capacity || (count > 0 && !states)) return pcscInvalidParameter;
    NativeState native[Capacity];
    std::memset(native, 0, sizeof native);
    for (std::uint32_t i = 0; i < count; ++i) {
        native[i].szReader = states[i].reader;
        native[i].dwCurrentState = states[i].currentState;
    }
    PcscResult rv = result(call(native));
    for (std::uint32_t i = 0; i < count; ++i) {
        states[i].eventState = narrow(native[i].dwEventState);
        std::uint32_t atrLength = narrow(native[i].cbAtr);
        if (atrLength > sizeof native[i].rgbAtr) atrLength = sizeof native[i].rgbAtr;
        if (atrLength > pcscReaderStateAtrRoom) atrLength = pcscReaderStateAtrRoom;
        states[i].atrLength = atrLength;
        std::memcpy(states[i].atr, native[i].rgbAtr, atrLength);
    }
    return rv;
}

// Connect: the card handle and the protocol as the native call reports it.
template <typename Handle, typename Dword, typename Call>
PcscResult connect(PcscCard* card, std::uint32_t* activeProtocol, Call call) {
    if (!card || !activeProtocol) return pcscInvalidParameter;
    Handle handle = 0;
    Dword protocol = 0;
    PcscResult rv = result(call(&handle, &protocol));
    *card = static_cast<PcscCard>(handle);
    *activeProtocol = narrow(protocol);
    return rv;
}

// Status: lengths in and out; state and protocol as the native call reports them.
template <typename Dword, typename Call>
PcscResult status(std::uint32_t* readerLength, std::uint32_t* state, std::uint32_t* protocol, std::uint32_t* atrLength,
                  Call call) {
    if (!readerLength || !state || !protocol || !atrLength) return pcscInvalidParameter;
    Dword nameLength = *readerLength;
    Dword wideState = 0;
    Dword wideProtocol = 0;
    Dword wideAtrLength = *atrLength;
    PcscResult rv = result(call(&nameLength, &wideState, &wideProtocol, &wideAtrLength));
    *readerLength = narrow(nameLength);
    *state = narrow(wideState);
    *protocol = narrow(wideProtocol);
    *atrLength = narrow(wideAtrLength);
    return rv;
}

}  // namespace pcscnative
}  // namespace platform
