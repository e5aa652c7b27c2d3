#include "scripted_pcsc.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace scripted {
namespace {

Script current;

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::string pointer(const void* value) { return value ? "set" : "null"; }

std::string multiString(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += name + '\0';
    return joined + '\0';
}

std::vector<std::string> readerNames() {
    std::vector<std::string> names;
    for (const Reader& reader : current.readers) names.push_back(reader.name);
    return names;
}

PcscResult answerListing(const std::string& call, const std::vector<std::string>& names, char* buffer,
                         std::uint32_t* length) {
    current.calls.push_back(call + " buffer=" + pointer(buffer) + " length=" + std::to_string(*length));
    const int index = current.listings++;
    if (index == current.failingListing) return current.listingFailure;
    const std::string text = multiString(names);
    const std::uint32_t size =
        index == current.lyingListing ? current.lyingSize : static_cast<std::uint32_t>(text.size());
    if (!buffer) {
        *length = size;
        return 0;
    }
    if (*length < text.size()) {
        *length = static_cast<std::uint32_t>(text.size());
        return platform::pcscInsufficientBuffer;
    }
    std::memcpy(buffer, text.data(), text.size());
    *length = static_cast<std::uint32_t>(text.size());
    return 0;
}

const Reader* readerNamed(const char* name) {
    for (const Reader& reader : current.readers)
        if (name && reader.name == name) return &reader;
    return nullptr;
}

}  // namespace

Script& reset() {
    current = Script();
    return current;
}

Script& script() { return current; }

std::vector<Reader> emptyReaders(int count) {
    std::vector<Reader> readers(count);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Reader %02d", i + 1);
        readers[i].name = name;
    }
    return readers;
}

}  // namespace scripted

namespace platform {

using scripted::current;

PcscResult pcscEstablishContext(std::uint32_t scope, PcscContext* context) {
    current.calls.push_back("SCardEstablishContext scope=" + std::to_string(scope));
    if (current.establishResult) return current.establishResult;
    ++current.contexts;
    *context = 0x5C;
    return 0;
}

PcscResult pcscReleaseContext(PcscContext context) {
    current.calls.push_back("SCardReleaseContext context=" + scripted::hex(static_cast<std::uint32_t>(context)));
    --current.contexts;
    return current.releaseResult;
}

PcscResult pcscListReaders(PcscContext, const char* groups, char* readers, std::uint32_t* length) {
    return scripted::answerListing("SCardListReadersA groups=" + scripted::pointer(groups), scripted::readerNames(),
                                   readers, length);
}

PcscResult pcscListCards(PcscContext, const unsigned char* atr, const void* interfaces, std::uint32_t interfaceCount,
                         char* cards, std::uint32_t* length) {
    return scripted::answerListing("SCardListCardsA atr=" + scripted::pointer(atr) + " interfaces=" +
                                       scripted::pointer(interfaces) + " count=" + std::to_string(interfaceCount),
                                   current.cardTypes, cards, length);
}

PcscResult pcscListReaderGroups(PcscContext, char* groups, std::uint32_t* length) {
    return scripted::answerListing("SCardListReaderGroupsA", current.groups, groups, length);
}

PcscResult pcscGetStatusChange(PcscContext, std::uint32_t timeout, PcscReaderState* states, std::uint32_t count) {
    std::string call = "SCardGetStatusChangeA timeout=" + scripted::hex(timeout) + " count=" + std::to_string(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        call += " [" + std::string(states[i].reader) + " current=" + scripted::hex(states[i].currentState) +
                " event=" + scripted::hex(states[i].eventState) + " atr=" + std::to_string(states[i].atrLength) + "]";
        const scripted::Reader* reader = scripted::readerNamed(states[i].reader);
        states[i].eventState = reader && reader->present ? (pcscStatePresent | 0x10000) : 0x10002;
    }
    current.calls.push_back(call);
    return current.statusChangeResult;
}

PcscResult pcscConnect(PcscContext, const char* reader, std::uint32_t shareMode, std::uint32_t preferredProtocols,
                       PcscCard* card, std::uint32_t* activeProtocol) {
    current.calls.push_back(std::string("SCardConnectA reader=") + reader + " share=" + std::to_string(shareMode) +
                            " protocols=" + scripted::hex(preferredProtocols));
    const scripted::Reader* found = scripted::readerNamed(reader);
    if (!found) return 0x80100009;  // unknown reader
    if (found->connectResult) return found->connectResult;
    ++current.connections;
    *card = reinterpret_cast<PcscCard>(found);
    *activeProtocol = found->protocol;
    return 0;
}

PcscResult pcscStatus(PcscCard card, char* readerName, std::uint32_t* readerLength, std::uint32_t* state,
                      std::uint32_t* protocol, unsigned char* atr, std::uint32_t* atrLength) {
    current.calls.push_back("SCardStatusA name=" + std::to_string(*readerLength) +
                            " atr=" + std::to_string(*atrLength));
    const scripted::Reader& reader = *reinterpret_cast<const scripted::Reader*>(card);
    const std::uint32_t nameLength = static_cast<std::uint32_t>(reader.name.size() + 1);
    const std::uint32_t cardAtrLength = static_cast<std::uint32_t>(reader.atr.size());
    *state = reader.state;
    *protocol = reader.protocol;
    if (reader.statusResult) {
        *readerLength = nameLength;
        *atrLength = cardAtrLength;
        return reader.statusResult;
    }
    if (!reader.claimLengths && (*readerLength < nameLength || *atrLength < cardAtrLength)) {
        *readerLength = nameLength;
        *atrLength = cardAtrLength;
        return pcscInsufficientBuffer;
    }
    std::memcpy(readerName, reader.name.c_str(), std::min(nameLength, *readerLength));
    if (!reader.atr.empty()) std::memcpy(atr, reader.atr.data(), std::min(cardAtrLength, *atrLength));
    *readerLength = reader.claimLengths ? reader.claimedNameLength : nameLength;
    *atrLength = reader.claimLengths ? reader.claimedAtrLength : cardAtrLength;
    return 0;
}

PcscResult pcscDisconnect(PcscCard card, std::uint32_t disposition) {
    current.calls.push_back("SCardDisconnect disposition=" + std::to_string(disposition));
    --current.connections;
    return reinterpret_cast<const scripted::Reader*>(card)->disconnectResult;
}

void* pcscAllocateZeroed(std::size_t bytes) {
    if (current.allocations++ == current.failingAllocation) return nullptr;
    void* block = std::calloc(1, bytes);
    if (block) ++current.liveBlocks;
    return block;
}

PcscResult pcscFree(void* block) {
    std::free(block);
    --current.liveBlocks;
    return current.frees++ == current.failingFree ? current.freeFailure : 0;
}

}  // namespace platform
