// The eight exports: each forwards to the same-named function of the service client, or logs
// and returns its fallback when the service client lacks it.
#include <cstdlib>
#include <cstring>

#include "stub.h"
#include "tavo_api.h"

namespace {

// Written once at process attach, read without locks afterwards.
struct ForwardingTable {
    StartTavoFn startTavo;
    StopTavoFn stopTavo;
    SendMessageFn sendMessageS;
    SendMessageFn sendMessageA;
    TextResultFn checkTransport;
    GetCodiceTavoFn getCodiceTAVO;
    TextResultFn getVersionePorta;
    GetRideConfigFn getRideConfig;
};
ForwardingTable forwarding = {};

const char kCheckTransportMissing[] = "checkTransport: funzione NULL";

template <typename Fn>
void resolve(platform::LibraryHandle serviceClient, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(platform::findSymbol(serviceClient, name));
    stubLog(LOG_DEBUG, "%s %s\n", name, entry != nullptr ? "OK" : "KO");
}

template <typename Fn>
bool forwardable(Fn entry, const char* name) {
    if (entry != nullptr) return true;
    stubLog(LOG_ERROR, "%s: funzione NULL", name);
    return false;
}

// The fallback text is a new block like every other string result, so a caller that frees
// what it receives stays safe.
char* missingTransportText() {
    char* text = static_cast<char*>(std::malloc(sizeof kCheckTransportMissing));
    if (text != nullptr) std::memcpy(text, kCheckTransportMissing, sizeof kCheckTransportMissing);
    return text;
}

}  // namespace

void resolveForwardingTable(platform::LibraryHandle serviceClient) {
    resolve(serviceClient, "startTavo", forwarding.startTavo);
    resolve(serviceClient, "stopTavo", forwarding.stopTavo);
    resolve(serviceClient, "sendMessageS", forwarding.sendMessageS);
    resolve(serviceClient, "sendMessageA", forwarding.sendMessageA);
    resolve(serviceClient, "checkTransport", forwarding.checkTransport);
    resolve(serviceClient, "getCodiceTAVO", forwarding.getCodiceTAVO);
    resolve(serviceClient, "getVersionePorta", forwarding.getVersionePorta);
    resolve(serviceClient, "getRideConfig", forwarding.getRideConfig);
}

extern "C" {

TAVO2_EXPORT int TAVO2_CALL startTavo() {
    return forwardable(forwarding.startTavo, "startTavo") ? forwarding.startTavo() : 0;
}

TAVO2_EXPORT void TAVO2_CALL stopTavo() {
    if (forwardable(forwarding.stopTavo, "stopTavo")) forwarding.stopTavo();
}

TAVO2_EXPORT char* TAVO2_CALL sendMessageS(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                                           const char* messaggio) {
    if (!forwardable(forwarding.sendMessageS, "sendMessageS")) return nullptr;
    return forwarding.sendMessageS(statusOk, errorNumber, servizio, mittente, messaggio);
}

TAVO2_EXPORT char* TAVO2_CALL sendMessageA(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                                           const char* messaggio) {
    if (!forwardable(forwarding.sendMessageA, "sendMessageA")) return nullptr;
    return forwarding.sendMessageA(statusOk, errorNumber, servizio, mittente, messaggio);
}

TAVO2_EXPORT char* TAVO2_CALL checkTransport() {
    return forwardable(forwarding.checkTransport, "checkTransport") ? forwarding.checkTransport()
                                                                    : missingTransportText();
}

TAVO2_EXPORT char* TAVO2_CALL getCodiceTAVO(const char* codiceAzienda) {
    return forwardable(forwarding.getCodiceTAVO, "getCodiceTAVO") ? forwarding.getCodiceTAVO(codiceAzienda) : nullptr;
}

TAVO2_EXPORT char* TAVO2_CALL getVersionePorta() {
    return forwardable(forwarding.getVersionePorta, "getVersionePorta") ? forwarding.getVersionePorta() : nullptr;
}

TAVO2_EXPORT int TAVO2_CALL getRideConfig() {
    return forwardable(forwarding.getRideConfig, "getRideConfig") ? forwarding.getRideConfig() : 0;
}

}  // extern "C"
