// Linked into a second build of the service client: marks the process when the library is
// loaded, so the fake Java runtime can tell which of the two builds the stub loaded (through
// the C runtime's environment, which _putenv keeps in step with the process's).
#include <stdlib.h>

namespace {
struct BuildMarker {
    BuildMarker() { _putenv("TAVO2_BUILD=marked"); }
} marker;
}  // namespace
