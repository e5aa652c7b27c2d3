// A native host for the Windows builds: loads atrprobe.dll by name like a host application and
// calls both exports by their exported names. Prints the outcome for windows_atr_test.sh.
#include "dynlib.h"

#include <cstdio>

namespace {
using GetAtr = int (*)(int, unsigned char*, int*);
using ReportAtr = int (*)();
}  // namespace

int main(int argc, char**) {
  platform::LibraryHandle library = platform::loadLibraryByName("atrprobe.dll");
  if (!library) {
    std::printf("atrprobe.dll not loaded\n");
    return 2;
  }
  auto getatrstr = reinterpret_cast<GetAtr>(platform::findSymbol(library, "getatrstr"));
  auto csgetatr = reinterpret_cast<ReportAtr>(platform::findSymbol(library, "?csgetatr@@YAHXZ"));
  if (!getatrstr || !csgetatr) {
    std::printf("exports missing\n");
    return 3;
  }
  unsigned char atr[36] = {};
  int length = -1;
  const int result = getatrstr(argc > 1 ? 1 : 0, atr, &length);
  std::printf("getatrstr result=%x length=%d\n", static_cast<unsigned>(result), length);
  std::printf("csgetatr result=%x\n", static_cast<unsigned>(csgetatr()));
  std::fflush(stdout);
  platform::releaseLibrary(library);
  return 0;
}
