// Linked into a second build of the service client: marks the process before the JVM starts,
// so the test proxy's getVersionePorta tells this build from the ordinary one.
#include <cstdlib>

__attribute__((constructor)) static void markVariantBuild() { setenv("TAVO2_BUILD", "variant", 1); }
