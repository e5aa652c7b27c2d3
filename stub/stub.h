// Internals of the tavo stub shared by its entry point, update and forwarding parts.
#pragma once

#include "dynlib.h"
#include "log.h"

// The stub's own daily log ("tavobridge_YYYY-MM-DD.log", no thread id, DEBUG/WARN/ERROR).
void stubLog(int level, const char* format, ...) LOG_PRINTF_FORMAT(2, 3);

// Swaps a pending update of the service client in, keeping the replaced file as the backup.
// True when an update took the service client's place.
bool applyPendingUpdate();

// A service client that cannot be loaded, whoever installed it, gives way to the backup (it is
// kept aside, not deleted); true when the backup is back in its place.
bool rollBackUnloadableVersion();

// Fills the forwarding table from the loaded service client, logging each entry found or missing.
void resolveForwardingTable(platform::LibraryHandle serviceClient);

// The work of the process-attach notification: update, load, resolution. False when the
// service client cannot be loaded.
bool stubProcessAttach();
