#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "fault_seam.h"

namespace platform {
namespace faults {

int nativeError(Action action) {
    switch (action) {
        case Action::denied: return EACCES;
        case Action::exists: return EEXIST;
        case Action::missing: return ENOENT;
        case Action::outOfMemory: return ENOMEM;
        case Action::other: return EBUSY;  // passed through unmapped
        default: return 0;
    }
}

void endProcessNow() {
    kill(getpid(), SIGKILL);
    _exit(137);
}

void waitMilliseconds(long milliseconds) { usleep(static_cast<useconds_t>(milliseconds) * 1000); }

}  // namespace faults
}  // namespace platform
