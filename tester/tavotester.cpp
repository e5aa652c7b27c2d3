// tavotester: loads the stub as a host would, calls six of its exports once, and reports the
// verdict in a dump file and the exit status.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dynlib.h"
#include "fileops.h"
#include "tavo_api.h"

namespace {

const char kLogFile[] = "tavotavotester.log";
const char kDefaultDumpFile[] = "CheckDump.txt";
const char kCheckTransportFallback[] = "checkTransport: funzione NULL";

constexpr int kResultLoadFailed = -1;
constexpr int kResultPositive = 0;
constexpr int kResultUndecided = -3;

struct Run {
    const char* dumpFile = kDefaultDumpFile;
    bool dumpWritten = false;  // the dump file was opened at least once
    platform::LibraryHandle stub = nullptr;
};

// Opens, writes and closes on every message so a crash loses nothing already traced.
void appendTo(const char* fileName, bool* opened, const char* format, va_list args) {
    FILE* file = std::fopen(fileName, "a+");
    if (file == nullptr) {
        std::printf("The file '%s' was not opened\n", fileName);
        return;
    }
    if (opened != nullptr) *opened = true;
    std::vfprintf(file, format, args);
    if (std::fclose(file) != 0) std::printf("The file '%s' was not closed\n", fileName);
}

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    appendTo(kLogFile, nullptr, format, args);
    va_end(args);
}

void dump(Run& run, const char* format, ...) __attribute__((format(printf, 2, 3)));
void dump(Run& run, const char* format, ...) {
    va_list args;
    va_start(args, format);
    appendTo(run.dumpFile, &run.dumpWritten, format, args);
    va_end(args);
}

const char* printable(const char* text) { return text != nullptr ? text : "(null)"; }

template <typename Fn>
Fn lookUp(const Run& run, const char* name) {
    return reinterpret_cast<Fn>(platform::findSymbol(run.stub, name));
}

// The calls in their fixed order; returns the verdict.
int callExports(Run& run) {
    logLine("dll loaded\n");
    auto getCodiceTAVO = lookUp<GetCodiceTavoFn>(run, "getCodiceTAVO");
    logLine("getCodiceTAVO invocata\n");
    if (getCodiceTAVO != nullptr) {
        char* code = getCodiceTAVO("999");
        logLine("Codice tavo generato: '%s'\n", printable(code));
        std::free(code);
    } else {
        logLine("getCodiceTAVO non trovato\n");
    }

    auto startTavo = lookUp<StartTavoFn>(run, "startTavo");
    logLine("got load startTavo\n");
    if (startTavo != nullptr) {
        int started = startTavo();
        logLine("startTavo executed %d\n", started);
        if (started == 0) {
            logLine("startTavo failed\n");
            dump(run, "ERR startTavo failed");
            return kResultLoadFailed;
        }
    } else {
        logLine("startTavo not found\n");
    }

    auto getVersionePorta = lookUp<TextResultFn>(run, "getVersionePorta");
    if (getVersionePorta != nullptr) {
        char* version = getVersionePorta();
        logLine("Versione porta: '%s'\n", printable(version));
        std::free(version);
    } else {
        logLine("getVersionePorta non trovato\n");
    }

    auto getRideConfig = lookUp<GetRideConfigFn>(run, "getRideConfig");
    if (getRideConfig != nullptr) {
        logLine("Ride config: '%d'\n", getRideConfig());
    } else {
        logLine("getRideConfig non trovato\n");
    }

    int result = kResultUndecided;
    auto checkTransport = lookUp<TextResultFn>(run, "checkTransport");
    if (checkTransport != nullptr) {
        char* response = checkTransport();
        logLine("checkTransport executed\n");
        logLine("CheckTransportResponse: %s\n", printable(response));
        dump(run, "%s", printable(response));
        if (response != nullptr && std::strcmp(response, "OK") == 0) {
            logLine("Esito: POSITIVO\n");
            result = kResultPositive;
        } else {
            logLine("Esito: NEGATIVO\n");
        }
        // The fallback text of a stub whose service lacks checkTransport may be the stub's own
        // constant: only the service's answers are released.
        if (response != nullptr && std::strcmp(response, kCheckTransportFallback) != 0) std::free(response);
    } else {
        logLine("checkTransport not found\n");
    }

    auto stopTavo = lookUp<StopTavoFn>(run, "stopTavo");
    logLine("got load stopTavo\n");
    if (stopTavo != nullptr) {
        stopTavo();
        logLine("stopTavo executed\n");
    } else {
        logLine("stopTavo not found\n");
    }
    logLine("return =%d\n", result);
    return result;
}

// The clean-up of the guarded section, run on every way out of it.
struct CleanUp {
    Run& run;
    ~CleanUp() {
        if (!run.dumpWritten) dump(run, "ERR Errore generico");
        logLine("FreeLibrary hGetProcIDDLL...");
        platform::releaseLibrary(run.stub);
        logLine("OK\n");
    }
};

}  // namespace

int main(int argc, char** argv) {
    Run run;
    run.stub = platform::loadLibraryByName(TAVO_STUB_FILE);
    if (run.stub == nullptr) {
        logLine("failed with error %d\n", platform::lastErrorCode());
        if (const char* why = platform::loadFailureText()) logLine("dlerror: %s\n", why);
        logLine("dll not loaded\n");
        return kResultLoadFailed;
    }
    if (argc > 1 && argv[1] != nullptr) run.dumpFile = argv[1];
    CleanUp guard{run};
    return callExports(run);
}
