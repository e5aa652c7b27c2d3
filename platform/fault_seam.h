// The fault seam of the file operations, for the fault sweeps of the test suites. Only a test
// build compiled with VANTREL_FAULT_SEAM carries it: there a plan in the environment makes the
// k-th file operation of the process fail with a chosen error, or ends the process abruptly
// right before or after it. In every other build the calls below are empty and vanish.
//
// Plan, VANTREL_FAULT_PLAN: comma-separated "<k>:<action>", k counting from 1, action one of
// denied, exists, missing, nomem, other (the operation fails with that error, untouched),
// kill-before, kill-after, hold (the process waits VANTREL_FAULT_HOLD_MS, 2000 by default,
// before the operation: another process can act in between). Journal, VANTREL_FAULT_JOURNAL: a file that gets one line
// "<k> <operation> <file>[ <target>][ <action>]" per operation reached.
#pragma once

namespace platform {
namespace faults {

#if defined(VANTREL_FAULT_SEAM)
// Counts the operation; the native error code it is to fail with, or 0 to go on.
int before(const char* operation, const char* fileName, const char* target = nullptr);
// Ends the process when the plan says so after the operation just counted.
void after();

// Per platform family:
enum class Action { none, denied, exists, missing, outOfMemory, other, killBefore, killAfter, hold };
// The platform's own error code for an injected failure; 0 for the other actions.
int nativeError(Action action);
// Ends the process at once, as a kill would: no exit handlers, no library detach.
[[noreturn]] void endProcessNow();
void waitMilliseconds(long milliseconds);
#else
inline int before(const char*, const char*, const char* = nullptr) { return 0; }
inline void after() {}
#endif

}  // namespace faults
}  // namespace platform
