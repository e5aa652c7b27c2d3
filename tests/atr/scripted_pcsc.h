// A scripted PC/SC layer standing in for platform/pcsc.h: it answers from a script, injects
// failures the real stack cannot produce and records every call with its arguments.
#pragma once

#include "pcsc.h"

#include <string>
#include <vector>

namespace scripted {

using platform::PcscResult;

struct Reader {
    std::string name;
    bool present = false;
    std::vector<unsigned char> atr;
    PcscResult connectResult = 0;
    PcscResult statusResult = 0;
    std::uint32_t state = 6;
    std::uint32_t protocol = platform::pcscProtocolT1;
    // When set, the lengths the status call claims instead of the real ones.
    bool claimLengths = false;
    std::uint32_t claimedNameLength = 0;
    std::uint32_t claimedAtrLength = 0;
    PcscResult disconnectResult = 0;
};

enum class ListingCall { size, fill };

struct Script {
    PcscResult establishResult = 0;
    PcscResult releaseResult = 0;
    std::vector<Reader> readers;
    std::vector<std::string> cardTypes;
    std::vector<std::string> groups{"SCard$DefaultReaders"};
    PcscResult statusChangeResult = 0;
    // The n-th listing call (0-based, size and fill calls counted alike) fails with listingFailure.
    int failingListing = -1;
    PcscResult listingFailure = 0;
    // The n-th listing call answers this size instead of the real one.
    int lyingListing = -1;
    std::uint32_t lyingSize = 0;
    // The n-th allocation fails; the n-th free fails with freeFailure.
    int failingAllocation = -1;
    int failingFree = -1;
    PcscResult freeFailure = 0;

    std::vector<std::string> calls;
    int listings = 0;
    int allocations = 0;
    int frees = 0;
    // Blocks, contexts and card connections still held.
    int liveBlocks = 0;
    int contexts = 0;
    int connections = 0;
};

// Fresh script for each test.
Script& reset();
Script& script();

// Readers named "Reader 01", "Reader 02", ... without cards.
std::vector<Reader> emptyReaders(int count);

}  // namespace scripted
