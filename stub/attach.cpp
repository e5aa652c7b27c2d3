#include "fileops.h"
#include "stub.h"

namespace {

platform::LibraryHandle loadServiceClient() {
    platform::LibraryHandle serviceClient = platform::loadLibraryByName(TAVO2_FILE);
    if (serviceClient == nullptr) {
        stubLog(LOG_ERROR, "DllStubMain.DLL_PROCESS_ATTACH, hGetProcIDDLL == NULL : %d !\n", platform::lastErrorCode());
        if (const char* why = platform::loadFailureText())
            stubLog(LOG_ERROR, "DllStubMain.DLL_PROCESS_ATTACH, dlerror: %s\n", why);
    }
    return serviceClient;
}

}  // namespace

bool stubProcessAttach() {
    stubLog(LOG_DEBUG, "DllStubMain.DLL_PROCESS_ATTACH.I\n");
    stubLog(LOG_DEBUG, "Version 3\n");
    applyPendingUpdate();
    // Never released: the forwarding table points into it for the life of the process.
    platform::LibraryHandle serviceClient = loadServiceClient();
    if (serviceClient == nullptr && rollBackUnloadableVersion()) serviceClient = loadServiceClient();
    if (serviceClient == nullptr) return false;
    resolveForwardingTable(serviceClient);
    stubLog(LOG_DEBUG, "DllStubMain.DLL_PROCESS_ATTACH.U\n");
    return true;
}
