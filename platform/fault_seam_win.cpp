#include <windows.h>

#include "fault_seam.h"

namespace platform {
namespace faults {

int nativeError(Action action) {
    switch (action) {
        case Action::denied: return ERROR_ACCESS_DENIED;
        case Action::exists: return ERROR_FILE_EXISTS;
        case Action::missing: return ERROR_FILE_NOT_FOUND;
        case Action::outOfMemory: return ERROR_OUTOFMEMORY;
        case Action::other: return ERROR_SHARING_VIOLATION;  // another process has the file open
        default: return 0;
    }
}

// TerminateProcess, unlike ExitProcess, runs no detach notifications: what a kill leaves.
void endProcessNow() {
    TerminateProcess(GetCurrentProcess(), 137);
    for (;;) Sleep(INFINITE);
}

void waitMilliseconds(long milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace faults
}  // namespace platform
