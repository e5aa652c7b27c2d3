// A service client for the stub tests that lacks getVersionePorta and checkTransport, so the
// stub's fallbacks can be observed. It needs no JVM. Built with CONSTANT_CHECK_TRANSPORT it
// stands for a stub whose checkTransport answers with its own constant text, as a stub may.
#include <cstdlib>
#include <cstring>
#include <string>

#include "tavo_api.h"

namespace {
char* copyOf(const std::string& text) {
    char* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (block != nullptr) std::memcpy(block, text.c_str(), text.size() + 1);
    return block;
}

char* send(int* statusOk, int* errorNumber, const char* servizio, const char* mittente) {
    *statusOk = -1;
    *errorNumber = 0;
    return copyOf(std::string("partial:") + servizio + "/" + mittente);
}
}  // namespace

extern "C" {
TAVO2_EXPORT int TAVO2_CALL startTavo() { return 1; }
TAVO2_EXPORT void TAVO2_CALL stopTavo() {}
TAVO2_EXPORT char* TAVO2_CALL sendMessageS(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                                           const char*) {
    return send(statusOk, errorNumber, servizio, mittente);
}
TAVO2_EXPORT char* TAVO2_CALL sendMessageA(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                                           const char*) {
    return send(statusOk, errorNumber, servizio, mittente);
}
TAVO2_EXPORT char* TAVO2_CALL getCodiceTAVO(const char* codiceAzienda) {
    return copyOf(std::string(codiceAzienda) + "PARTIAL0000000");
}
TAVO2_EXPORT int TAVO2_CALL getRideConfig() { return 7; }
#if defined(CONSTANT_CHECK_TRANSPORT)
TAVO2_EXPORT char* TAVO2_CALL checkTransport() { return const_cast<char*>("checkTransport: funzione NULL"); }
#endif
}
