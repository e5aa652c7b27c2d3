// The eight-export interface of the service client, as the stub re-exports it and hosts call it.
#pragma once

#if defined(_WIN32)
#define TAVO_CALL __stdcall
#define TAVO_EXPORT
#else
#define TAVO_CALL
#define TAVO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
using StartTavoFn = int(TAVO_CALL*)();
using StopTavoFn = void(TAVO_CALL*)();
using SendMessageFn = char*(TAVO_CALL*)(int* statusOk, int* errorNumber, const char* servizio,
                                        const char* mittente, const char* messaggio);
using TextResultFn = char*(TAVO_CALL*)();
using GetCodiceTavoFn = char*(TAVO_CALL*)(const char* codiceAzienda);
using GetRideConfigFn = int(TAVO_CALL*)();
}
