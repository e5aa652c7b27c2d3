#include "fileops.h"
#include "stub.h"

bool stubProcessAttach() {
    stubLog(LOG_DEBUG, "DllStubMain.DLL_PROCESS_ATTACH.I\n");
    stubLog(LOG_DEBUG, "Version 3\n");
    applyPendingUpdate();
    // Never released: the forwarding table points into it for the life of the process.
    platform::LibraryHandle serviceClient = platform::loadLibraryByName(TAVO2_FILE);
    if (serviceClient == nullptr) {
        stubLog(LOG_ERROR, "DllStubMain.DLL_PROCESS_ATTACH, hGetProcIDDLL == NULL : %d !\n",
                platform::lastErrorCode());
        return false;
    }
    resolveForwardingTable(serviceClient);
    stubLog(LOG_DEBUG, "DllStubMain.DLL_PROCESS_ATTACH.U\n");
    return true;
}
