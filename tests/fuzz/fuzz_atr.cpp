// The ATR report and ATR read over PC/SC answers taken from the input: readers (names, cards,
// ATRs, states, protocols, lengths claimed beyond the buffers), card types, groups, failing or
// lying listings, failing allocations, frees, connections and releases. Whatever the service
// answers, the caller's buffer receives at most 32 bytes of some card's ATR, and every list
// block, context and connection is given back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "atrprobe.h"
#include "fuzz_support.h"
#include "scripted_pcsc.h"

namespace {

using platform::PcscResult;

constexpr size_t kAtrRoom = 32;
constexpr unsigned char kUntouched = 0xEE;

PcscResult answer(FuzzedDataProvider& input) {
    static const PcscResult known[] = {platform::pcscInvalidParameter,   platform::pcscInsufficientBuffer,
                                       platform::pcscSharingViolation,   platform::pcscNoService,
                                       platform::pcscNoReadersAvailable, 14};
    if (input.ConsumeBool()) return platform::pcscSuccess;
    if (input.ConsumeBool()) return input.PickValueInArray(known);
    return input.ConsumeIntegral<PcscResult>();
}

std::vector<std::string> names(FuzzedDataProvider& input, int most) {
    std::vector<std::string> list(input.ConsumeIntegralInRange(0, most));
    for (std::string& name : list) name = input.ConsumeRandomLengthString(260);
    return list;
}

void scriptFrom(FuzzedDataProvider& input, scripted::Script& script) {
    script.establishResult = input.ConsumeProbability<float>() < 0.9f ? 0 : answer(input);
    script.releaseResult = answer(input);
    script.readers.resize(input.ConsumeIntegralInRange(0, 12));
    for (scripted::Reader& reader : script.readers) {
        reader.name = input.ConsumeRandomLengthString(260);
        reader.present = input.ConsumeBool();
        reader.atr = input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange(0, 40));
        reader.connectResult = answer(input);
        reader.statusResult = answer(input);
        reader.state = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint32_t>(0, 7)
                                           : input.ConsumeIntegral<std::uint32_t>();
        reader.protocol = input.ConsumeIntegral<std::uint32_t>();
        reader.claimLengths = input.ConsumeBool();
        reader.claimedNameLength = input.ConsumeIntegral<std::uint32_t>() % 300;
        reader.claimedAtrLength = input.ConsumeBool() ? input.ConsumeIntegral<std::uint32_t>()
                                                      : input.ConsumeIntegralInRange<std::uint32_t>(0, 40);
        reader.disconnectResult = answer(input);
    }
    script.cardTypes = names(input, 3);
    script.groups = names(input, 3);
    script.statusChangeResult = input.ConsumeProbability<float>() < 0.8f ? 0 : answer(input);
    script.failingListing = input.ConsumeIntegralInRange(-1, 8);
    script.listingFailure = answer(input);
    script.lyingListing = input.ConsumeIntegralInRange(-1, 8);
    script.lyingSize = input.ConsumeIntegral<std::uint32_t>();
    script.failingAllocation = input.ConsumeIntegralInRange(-1, 4);
    script.failingFree = input.ConsumeIntegralInRange(-1, 4);
    script.freeFailure = answer(input);
}

// Every block, context and connection the probe took is given back.
void expectEverythingReleased(const scripted::Script& script) {
    FUZZ_CHECK(script.liveBlocks == 0);
    FUZZ_CHECK(script.contexts == 0);
    FUZZ_CHECK(script.connections == 0);
}

// The bytes are those of a card present in one of the readers (zeros past an ATR shorter
// than the length its reader claimed).
bool someCardsAtr(const scripted::Script& script, const unsigned char* bytes, int length) {
    for (const scripted::Reader& reader : script.readers) {
        if (!reader.present) continue;
        bool same = true;
        for (int i = 0; i < length && same; ++i)
            same = bytes[i] == (static_cast<size_t>(i) < reader.atr.size() ? reader.atr[i] : 0);
        if (same) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    int verbose = input.ConsumeBool() ? 1 : 0;
    bool withBuffer = input.ConsumeBool();
    bool thenReport = input.ConsumeBool();
    scripted::Script& script = scripted::reset();
    scriptFrom(input, script);

    unsigned char buffer[2 * kAtrRoom];
    std::memset(buffer, kUntouched, sizeof buffer);
    int length = -7;
    getatrstr(verbose, withBuffer ? buffer : nullptr, &length);
    expectEverythingReleased(script);
    FUZZ_CHECK(length >= 0 && static_cast<size_t>(length) <= kAtrRoom);
    for (size_t i = withBuffer ? kAtrRoom : 0; i < sizeof buffer; ++i) FUZZ_CHECK(buffer[i] == kUntouched);
    if (withBuffer && length > 0) FUZZ_CHECK(someCardsAtr(script, buffer, length));

    // The full report over the same answers, the injected failures counted afresh.
    if (thenReport) {
        script.calls.clear();
        script.listings = script.allocations = script.frees = 0;
        csgetatr();
        expectEverythingReleased(script);
    }
    return 0;
}
