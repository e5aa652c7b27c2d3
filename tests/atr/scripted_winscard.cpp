// winscard.dll answered by the scripted PC/SC layer, for the Windows builds of atrprobe run under
// Wine (loaded from the program's folder with WINEDLLOVERRIDES=winscard=n). Every context
// reads the script named by PCSC_SCRIPT and writes the calls, with their arguments as the
// library received them, to <script>.calls; releasing the context adds what is still open.
//
// Script lines:
//   card <ATR in hex> <reader name>    a reader holding a card
//   empty <reader name>                a reader without one
//   claim <name length> <ATR length>   the last reader's status call claims these lengths
//   establish <hex code>               establishing a context fails with this code
//   lying-listing <index> <hex size>   the index-th listing call (from 0) answers this size
#define WINSCARDAPI __declspec(dllexport)
#include <windows.h>
#include <winscard.h>

#include "scripted_pcsc.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string callsPath;
std::size_t callsWritten = 0;

std::vector<unsigned char> bytesOf(const char* hex) {
    std::vector<unsigned char> bytes;
    for (unsigned value = 0; std::sscanf(hex, "%2x", &value) == 1 && hex[1]; hex += 2)
        bytes.push_back(static_cast<unsigned char>(value));
    return bytes;
}

void loadScript() {
    scripted::Script& script = scripted::reset();
    callsWritten = 0;
    callsPath.clear();
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("PCSC_SCRIPT", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    callsPath = std::string(path) + ".calls";
    std::fclose(std::fopen(callsPath.c_str(), "wb"));
    FILE* in = std::fopen(path, "rb");
    if (!in) return;
    char line[512], word[32], hex[160];
    int at = 0, rest = 0;
    unsigned first = 0, second = 0;
    while (std::fgets(line, sizeof line, in)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (std::sscanf(line, "%31s %n", word, &at) != 1) continue;
        const std::string command = word;
        const char* arguments = line + at;
        scripted::Reader* last = script.readers.empty() ? nullptr : &script.readers.back();
        if (command == "card" && std::sscanf(arguments, "%159s %n", hex, &rest) == 1) {
            scripted::Reader reader;
            reader.present = true;
            reader.atr = bytesOf(hex);
            reader.name = arguments + rest;
            script.readers.push_back(reader);
        } else if (command == "empty") {
            scripted::Reader reader;
            reader.name = arguments;
            script.readers.push_back(reader);
        } else if (command == "claim" && last && std::sscanf(arguments, "%u %u", &first, &second) == 2) {
            last->claimLengths = true;
            last->claimedNameLength = first;
            last->claimedAtrLength = second;
        } else if (command == "establish" && std::sscanf(arguments, "%x", &first) == 1) {
            script.establishResult = first;
        } else if (command == "lying-listing" && std::sscanf(arguments, "%u %x", &first, &second) == 2) {
            script.lyingListing = static_cast<int>(first);
            script.lyingSize = second;
        }
    }
    std::fclose(in);
}

// Appends the calls recorded since the last write.
LONG recorded(LONG result) {
    const scripted::Script& script = scripted::script();
    FILE* out = callsPath.empty() ? nullptr : std::fopen(callsPath.c_str(), "ab");
    for (; callsWritten < script.calls.size(); ++callsWritten)
        if (out) std::fprintf(out, "%s\n", script.calls[callsWritten].c_str());
    if (out) std::fclose(out);
    return result;
}

// A DWORD length in and out through the layer's 32-bit one.
template <typename Call>
LONG withLength(LPDWORD length, Call call) {
    std::uint32_t value = *length;
    const LONG rv = static_cast<LONG>(call(&value));
    *length = value;
    return recorded(rv);
}

}  // namespace

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    loadScript();
    platform::PcscContext handle = 0;
    const LONG rv = static_cast<LONG>(platform::pcscEstablishContext(scope, &handle));
    *context = handle;
    return recorded(rv);
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
    const LONG rv = static_cast<LONG>(platform::pcscReleaseContext(context));
    scripted::Script& script = scripted::script();
    script.calls.push_back("open contexts=" + std::to_string(script.contexts) +
                           " connections=" + std::to_string(script.connections));
    return recorded(rv);
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length) {
    return withLength(length,
                      [&](std::uint32_t* value) { return platform::pcscListReaders(context, groups, readers, value); });
}

LONG WINAPI SCardListCardsA(SCARDCONTEXT context, LPCBYTE atr, LPCGUID interfaces, DWORD count, LPSTR cards,
                            LPDWORD length) {
    return withLength(length, [&](std::uint32_t* value) {
        return platform::pcscListCards(context, atr, interfaces, count, cards, value);
    });
}

LONG WINAPI SCardListReaderGroupsA(SCARDCONTEXT context, LPSTR groups, LPDWORD length) {
    return withLength(length,
                      [&](std::uint32_t* value) { return platform::pcscListReaderGroups(context, groups, value); });
}

LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT context, DWORD timeout, LPSCARD_READERSTATEA states, DWORD count) {
    std::vector<platform::PcscReaderState> table(count);
    for (DWORD i = 0; i < count; ++i) {
        table[i].reader = states[i].szReader;
        table[i].currentState = states[i].dwCurrentState;
        table[i].eventState = states[i].dwEventState;
        table[i].atrLength = states[i].cbAtr;
    }
    const LONG rv = static_cast<LONG>(platform::pcscGetStatusChange(context, timeout, table.data(), count));
    for (DWORD i = 0; i < count; ++i) states[i].dwEventState = table[i].eventState;
    return recorded(rv);
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD shareMode, DWORD protocols, LPSCARDHANDLE card,
                          LPDWORD activeProtocol) {
    platform::PcscCard handle = 0;
    std::uint32_t protocol = 0;
    const LONG rv = static_cast<LONG>(platform::pcscConnect(context, reader, shareMode, protocols, &handle, &protocol));
    *card = handle;
    *activeProtocol = protocol;
    return recorded(rv);
}

LONG WINAPI SCardStatusA(SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state, LPDWORD protocol,
                         LPBYTE atr, LPDWORD atrLength) {
    std::uint32_t nameLength = *readerLength, cardState = 0, cardProtocol = 0, cardAtrLength = *atrLength;
    const LONG rv = static_cast<LONG>(
        platform::pcscStatus(card, readerName, &nameLength, &cardState, &cardProtocol, atr, &cardAtrLength));
    *readerLength = nameLength;
    *state = cardState;
    *protocol = cardProtocol;
    *atrLength = cardAtrLength;
    return recorded(rv);
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
    return recorded(static_cast<LONG>(platform::pcscDisconnect(card, disposition)));
}
}
