#include "trace.h"

#include <cstdio>
#include <cstdlib>

#include "bridge_config.h"

const char* const bridgeTraceFileName = BRIDGE_TRACE_FILE;

void applyTraceSetting() {
    const char* setting = std::getenv("PKCS11_OXL_DEBUG");
    if (setting == nullptr) return;
    if (setting[0] == '2') {
        std::printf("redirecting stdout on %s ", bridgeTraceFileName);
        // A failed reopen leaves nothing to trace into; the bridge works on regardless.
        (void)std::freopen(bridgeTraceFileName, "a+", stdout);
    }
    bridgeState.traceEnabled = 1;
}

void traceArgs(const char* format, va_list args) {
    if (bridgeState.traceEnabled) std::vprintf(format, args);
}

void traceAlways(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void traceConversionError() { std::puts("JNI:##########ERROR################"); }
