// Exports of atrprobe: the ATR of the card in the last reader holding one, and the full report.
#pragma once

#if defined(_WIN32)
// Windows export names come from the module-definition files (csgetatr keeps its C++ name there).
#define ATRPROBE_API
#else
#define ATRPROBE_API __attribute__((visibility("default")))
#endif

extern "C" {

// Fills atr (room for at least 32 bytes, may be null) and *atrLength; returns a PC/SC result code.
ATRPROBE_API int getatrstr(int verbose, unsigned char* atr, int* atrLength);

// Writes the whole report to standard output; returns a PC/SC result code.
ATRPROBE_API int csgetatr(void);
}
