// POSIX has no loader notifications: a constructor and a destructor stand in for process
// attach and detach; thread notifications do not exist and are dropped.
#include "tavo2_exports.h"

__attribute__((constructor)) static void tavo2ProcessAttach() { DllMain(nullptr, 1, nullptr); }

__attribute__((destructor)) static void tavo2ProcessDetach() { DllMain(nullptr, 0, nullptr); }
