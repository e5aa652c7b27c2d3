// The eight exports of tavo2: stdcall on Windows (plain and decorated names through the .def
// file), plain default-visibility symbols elsewhere.
#pragma once

#if defined(_WIN32)
#define TAVO2_CALL __stdcall
#define TAVO2_EXPORT
#else
#define TAVO2_CALL
#define TAVO2_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
TAVO2_EXPORT int TAVO2_CALL startTavo();
TAVO2_EXPORT void TAVO2_CALL stopTavo();
TAVO2_EXPORT char* TAVO2_CALL checkTransport();
TAVO2_EXPORT char* TAVO2_CALL getVersionePorta();
TAVO2_EXPORT int TAVO2_CALL getRideConfig();
TAVO2_EXPORT char* TAVO2_CALL sendMessageS(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                                           const char* messaggio);
TAVO2_EXPORT char* TAVO2_CALL sendMessageA(int* statusOk, int* errorNumber, const char* servizio, const char* mittente,
                                           const char* messaggio);
TAVO2_EXPORT char* TAVO2_CALL getCodiceTAVO(const char* codiceAzienda);

// The library entry point (the Windows loader calls it; on POSIX a constructor and a destructor
// call it for process attach and detach).
int TAVO2_CALL DllMain(void* module, unsigned long reason, void* reserved);
}
