// Linked into a second build of the service client: marks the process when the library is
// loaded, so the fake Java runtime can tell which of the two builds the stub loaded.
#include <windows.h>

namespace {
struct BuildMarker {
    BuildMarker() { SetEnvironmentVariableA("TAVO2_BUILD", "marked"); }
} marker;
}  // namespace
