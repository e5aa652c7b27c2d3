// The library entry point: generator set-up on the first call, standard streams redirected to
// "stdout.log" and "stderr.log" for the life of the process.
#include "files.h"
#include "tavo2.h"
#include "tavo2_exports.h"

namespace {
enum EntryReason : unsigned long { kProcessDetach = 0, kProcessAttach = 1, kThreadAttach = 2, kThreadDetach = 3 };
}

extern "C" int TAVO2_CALL DllMain(void* /*module*/, unsigned long reason, void* /*reserved*/) {
    writeLog(LOG_DEBUG, "DllMain\n");
    initCodeGenerator();
    switch (reason) {
        case kProcessAttach:
            writeLog(LOG_DEBUG, "DLL_PROCESS_ATTACH\n");
            writeLog(LOG_DEBUG, "TAVO DLL versione 3.1.0 17-12-2014\n");
            platform::redirectStandardStream(platform::StandardStream::Error, "stderr.log");
            platform::redirectStandardStream(platform::StandardStream::Output, "stdout.log");
            break;
        case kProcessDetach:
            writeLog(LOG_DEBUG, "DLL_PROCESS_DETACH\n");
            platform::endStandardStreamRedirection(platform::StandardStream::Error);
            platform::endStandardStreamRedirection(platform::StandardStream::Output);
            break;
        case kThreadAttach: writeLog(LOG_DEBUG, "DLL_THREAD_ATTACH\n"); break;
        case kThreadDetach: writeLog(LOG_DEBUG, "DLL_THREAD_DETACH\n"); break;
        default: break;
    }
    return 1;
}
