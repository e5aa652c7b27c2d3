// POSIX has no loader notification: a constructor does the process-attach work. It cannot
// refuse the load, so a missing service client leaves every entry null and every export
// answers with its fallback.
#include "stub.h"

__attribute__((constructor)) static void stubConstructor() { stubProcessAttach(); }
