// atrprobe: lists readers, card types and groups through PC/SC and reads the ATR of the
// card in the last reader holding one. Output is printf to standard output.
#include "atrprobe.h"

#include "pcsc.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

using platform::PcscCard;
using platform::PcscContext;
using platform::PcscResult;

// Shared by every caller in the process; getatrstr lowers it only for the length of its call.
// Atomic because Java may call from several threads at once.
std::atomic<int> atrVerbose{1};

constexpr PcscResult outOfMemory = 14;
constexpr int readerTableSize = 10;
constexpr std::uint32_t readerNameRoom = 200;
constexpr std::uint32_t atrRoom = 32;
// A size no reader, card or group listing reaches; a larger answer is refused as out of memory
// (it would also wrap the allocation size on 32-bit targets).
constexpr std::uint32_t largestListing = 1u << 20;
// Zero bytes behind every listing keep the walk over its names inside the block.
constexpr std::uint32_t listingGuard = 2;

const char* const errorLine = "\nError [0x%lx]: Program terminated abnormally.\n";
const char* const noReaderLine = "No registered reader was found for the specified reader group(s) [%s].\n";
// The null group list and the null ATR appear in the report as printf shows a null string.
const char* const nullText = "(null)";

// A release or free that follows a step changes its result only if it was success so far.
void keepFirstFailure(PcscResult& result, PcscResult next) {
    if (result == platform::pcscSuccess) result = next;
}

unsigned long asHex(PcscResult code) { return static_cast<unsigned long>(code); }

enum class Listing { readers, cards, groups };

PcscResult listOnce(PcscContext context, Listing listing, char* buffer, std::uint32_t* length) {
    switch (listing) {
        case Listing::readers: return platform::pcscListReaders(context, nullptr, buffer, length);
        case Listing::cards: return platform::pcscListCards(context, nullptr, nullptr, 0, buffer, length);
        case Listing::groups: return platform::pcscListReaderGroups(context, buffer, length);
    }
    return platform::pcscInvalidParameter;
}

// Two-call listing: the size, then the names into a zero-filled heap block the caller frees.
PcscResult fetchListing(PcscContext context, Listing listing, char** block) {
    *block = nullptr;
    std::uint32_t length = 0;
    PcscResult result = listOnce(context, listing, nullptr, &length);
    if (result != platform::pcscSuccess) return result;
    if (length > largestListing) return outOfMemory;
    char* names = static_cast<char*>(platform::pcscAllocateZeroed(length + listingGuard));
    if (!names) return outOfMemory;
    result = listOnce(context, listing, names, &length);
    if (result != platform::pcscSuccess) {
        platform::pcscFree(names);
        return result;
    }
    *block = names;
    return platform::pcscSuccess;
}

const char* nextName(const char* name) { return name + std::strlen(name) + 1; }

struct ListingReport {
    Listing listing;
    const char* title;
    const char* underline;
    const char* noneFormat;
};

PcscResult reportListing(PcscContext context, const ListingReport& report) {
    char* names = nullptr;
    PcscResult result = fetchListing(context, report.listing, &names);
    if (result != platform::pcscSuccess) return result;
    if (atrVerbose) {
        std::printf("\n");
        std::printf("%s", report.title);
        std::printf("%s", report.underline);
        int count = 0;
        for (const char* name = names; *name; name = nextName(name)) std::printf("%02d: %s\n", ++count, name);
        if (count == 0) std::printf(report.noneFormat, nullText);
    }
    return platform::pcscFree(names);
}

void printBytes(const unsigned char* bytes, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) std::printf("%02x ", bytes[i]);
}

const char* stateText(std::uint32_t state) {
    switch (state) {
        case 0: return "the driver is unaware of the current state of the reader.\n";
        case 1: return "There is no card in the reader.\n";
        case 2: return "There is a card in the reader, but it has not been moved into position for use.\n";
        case 3: return "There is a card in the readerin position for use. The card is not powered.\n";
        case 4:
            return "Power is being provided to the card, but the reader driver is unaware of the mode of the card.\n";
        case 5: return "The card has been reset and is awaiting PTS negotiation.\n";
        case 6: return "The card has been reset and specific communication protocols have been established.\n";
        default: return "Unexpected card status.\n";
    }
}

const char* protocolText(std::uint32_t protocol) {
    switch (protocol) {
        case platform::pcscProtocolT0: return "T0 protocol.\n";
        case platform::pcscProtocolT1: return "T1 protocol.\n";
        case platform::pcscProtocolRaw: return "RAW protocol.\n";
        default: return "undefined protocol.\n";
    }
}

struct CardStatus {
    PcscResult result;
    char readerName[readerNameRoom];
    std::uint32_t readerLength;
    std::uint32_t state;
    std::uint32_t protocol;
    unsigned char atr[atrRoom];
    std::uint32_t atrLength;
};

std::uint32_t atMost(std::uint32_t value, std::uint32_t room) { return value < room ? value : room; }

void printStatusReport(const CardStatus& status) {
    std::printf("SCardStatus result:\n");
    std::printf("lResult = %ld %x ", static_cast<long>(static_cast<std::int32_t>(status.result)),
                static_cast<unsigned>(status.result));
    std::printf("\n");
    std::printf("cchReaderLen = %02d %02x ", static_cast<int>(status.readerLength), status.readerLength);
    std::printf("\n");
    std::printf("State = %02d %02x ", static_cast<int>(status.state), status.state);
    std::printf("\n");
    std::printf("Protocol = %02d %02x ", static_cast<int>(status.protocol), status.protocol);
    std::printf("\n");
    std::printf("%s", stateText(status.state));
    if (status.state == 6) std::printf("%s", protocolText(status.protocol));
    std::printf("    ATR = ");
    printBytes(status.atr, atMost(status.atrLength, atrRoom));
    std::printf("\n");
    std::printf("    Reader = \n");
    const std::uint32_t nameLength = atMost(status.readerLength, readerNameRoom);
    for (std::uint32_t i = 0; i < nameLength; ++i)
        std::printf("%02x ", static_cast<unsigned>(static_cast<int>(static_cast<signed char>(status.readerName[i]))));
    std::printf("\n");
    for (std::uint32_t i = 0; i < nameLength; ++i) std::printf("%2c ", status.readerName[i]);
    std::printf("\n");
    std::printf("atrlen = %02d %02x ", static_cast<int>(status.atrLength), status.atrLength);
    std::printf("\n");
}

void copyAtr(const CardStatus& status, unsigned char* atr, int* atrLength) {
    if (atrVerbose) std::printf("atrlen dword is %d \n", static_cast<int>(status.atrLength));
    *atrLength = static_cast<int>(status.atrLength);
    if (atrVerbose) std::printf("atrlen uint  is %d \n", *atrLength);
    if (atrVerbose) std::printf("copyATR = ");
    for (std::uint32_t i = 0; i < status.atrLength; ++i) {
        atr[i] = status.atr[i];
        if (atrVerbose) std::printf("%02x ", atr[i]);
    }
    std::printf("\n returned atr \n");
}

// Connects to the card in one reader and reads its status; the result is the reader's outcome.
PcscResult readCard(PcscContext context, const char* reader, unsigned char* atr, int* atrLength) {
    PcscCard card = 0;
    std::uint32_t activeProtocol = 0;
    PcscResult result =
        platform::pcscConnect(context, reader, platform::pcscShareShared,
                              platform::pcscProtocolT0 | platform::pcscProtocolT1, &card, &activeProtocol);
    if (result != platform::pcscSuccess) return result;

    CardStatus status = {};
    status.readerLength = readerNameRoom;
    status.atrLength = atrRoom;
    status.result = platform::pcscStatus(card, status.readerName, &status.readerLength, &status.state, &status.protocol,
                                         status.atr, &status.atrLength);
    // A service claiming more than the room it was given has not filled the buffers it names.
    if (status.result == platform::pcscSuccess && (status.readerLength > readerNameRoom || status.atrLength > atrRoom))
        status.result = platform::pcscInsufficientBuffer;
    result = status.result;

    if (atrVerbose) printStatusReport(status);
    if (result == platform::pcscSuccess) {
        if (atrVerbose) {
            std::printf("    ATR = ");
            printBytes(status.atr, status.atrLength);
            std::printf("\n");
        }
        if (atr) copyAtr(status, atr, atrLength);
        if (atrVerbose) std::printf("\n");
    }
    keepFirstFailure(result, platform::pcscDisconnect(card, platform::pcscLeaveCard));
    return result;
}

PcscResult scanReaders(PcscContext context, unsigned char* atr, int* atrLength) {
    if (atr) *atrLength = 0;
    char* names = nullptr;
    PcscResult result = fetchListing(context, Listing::readers, &names);
    if (result != platform::pcscSuccess) return result;
    if (atrVerbose) {
        std::printf("\n");
        std::printf("Card in reader\n");
        std::printf("==============\n");
    }

    platform::PcscReaderState table[readerTableSize] = {};
    int readerCount = 0;
    for (const char* name = names; *name && readerCount < readerTableSize; name = nextName(name)) {
        table[readerCount].reader = name;
        table[readerCount].currentState = platform::pcscStateUnaware;
        ++readerCount;
    }
    if (readerCount == 0) {
        if (atrVerbose) std::printf(noReaderLine, nullText);
        return platform::pcscFree(names);
    }

    result =
        platform::pcscGetStatusChange(context, platform::pcscInfinite, table, static_cast<std::uint32_t>(readerCount));
    if (result != platform::pcscSuccess) {
        platform::pcscFree(names);
        return result;
    }

    for (int i = 0; i < readerCount; ++i) {
        if (atrVerbose) std::printf("%02d: %s\n", i + 1, table[i].reader);
        if (!(table[i].eventState & platform::pcscStatePresent)) {
            if (atrVerbose) std::printf("    No Smart Card found in this reader.\n");
            continue;
        }
        result = readCard(context, table[i].reader, atr, atrLength);
    }
    keepFirstFailure(result, platform::pcscFree(names));
    return result;
}

const ListingReport readerReport = {Listing::readers, "Registered Reader(s)\n", "====================\n", noReaderLine};
const ListingReport cardReport = {Listing::cards, "Registered Card(s)\n", "==================\n",
                                  "No registered Smart Card was found for the specified ATR [%s].\n"};
const ListingReport groupReport = {Listing::groups, "Registered Group(s)\n", "===================\n",
                                   "No registered reader group was found.\n"};

// Context, the three listings, the scan, release: the work both exports share.
PcscResult probe(unsigned char* atr, int* atrLength) {
    PcscContext context = 0;
    PcscResult result = platform::pcscEstablishContext(platform::pcscScopeUser, &context);
    if (result != platform::pcscSuccess) return result;
    result = reportListing(context, readerReport);
    if (result == platform::pcscSuccess) result = reportListing(context, cardReport);
    if (result == platform::pcscSuccess) result = reportListing(context, groupReport);
    if (result == platform::pcscSuccess) result = scanReaders(context, atr, atrLength);
    keepFirstFailure(result, platform::pcscReleaseContext(context));
    return result;
}

}  // namespace

extern "C" int getatrstr(int verbose, unsigned char* atr, int* atrLength) {
    // The length is always written: without it there is nowhere to report an ATR.
    if (!atrLength) return static_cast<int>(platform::pcscInvalidParameter);
    atrVerbose = verbose ? 1 : 0;
    *atrLength = 0;
    PcscResult result = probe(atr, atrLength);
    if (result != platform::pcscSuccess && atrVerbose == 1) std::printf(errorLine, asHex(result));
    atrVerbose = 1;
    std::fflush(stdout);
    return static_cast<int>(result);
}

extern "C" int csgetatr(void) {
    PcscResult result = probe(nullptr, nullptr);
    if (result != platform::pcscSuccess) std::printf(errorLine, asHex(result));
    std::fflush(stdout);
    return static_cast<int>(result);
}
