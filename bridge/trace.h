// The bridge's trace: printf fragments on standard output while PKCS11_OXL_DEBUG switched
// it on, and the few lines written whatever the flag says.
#pragma once

#include <cinttypes>
#include <cstdarg>
#include <cstdint>

#include "state.h"

#if defined(__GNUC__)
#define BRIDGE_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define BRIDGE_PRINTF_FORMAT(f, a)
#endif

// Switches tracing on when PKCS11_OXL_DEBUG exists; a value starting with '2' also moves
// standard output to the trace file.
void applyTraceSetting();
void traceArgs(const char* format, va_list args);
// Writes whatever the trace flag says (the few lines that are always printed).
void traceAlways(const char* format, ...) BRIDGE_PRINTF_FORMAT(1, 2);
// Writes only while tracing is on. Every native traces several times, so a switched-off
// trace is a test of the flag here, not a call.
#define trace(...) (bridgeState.traceEnabled ? traceAlways(__VA_ARGS__) : void(0))
// The line written when a text cannot be turned into a Java string.
void traceConversionError();
// Name of the file standard output is moved to ("c:\jpkcs110.log" on Windows).
extern const char* const bridgeTraceFileName;
// printf conversion for addresses: "%lx" where long holds a pointer, the pointer's width elsewhere.
#define BRIDGE_PRIxADDR "%" PRIxPTR
#define BRIDGE_ADDR(p) static_cast<uintptr_t>(reinterpret_cast<uintptr_t>(p))
