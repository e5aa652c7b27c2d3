#!/usr/bin/env bash
# Builds the three targets (build/linux64, build/win32, build/win64) and the fuzz targets
# (build/fuzz, clang), whose smoke runs are part of the linux64 test suite.
# Usage: scripts/build.sh [linux64|win32|win64|fuzz ...]   (default: all four)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(win32 win64 fuzz linux64)
jobs=${BUILD_JOBS:-2}
for t in "${targets[@]}"; do
  dir="$root/build/$t"
  case "$t" in
    linux64)
      cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVANTREL_SANITIZE="${VANTREL_SANITIZE:-ON}" \
        -DWIN32_BUILD_DIR="$root/build/win32" -DWIN64_BUILD_DIR="$root/build/win64" \
        -DFUZZ_BUILD_DIR="$root/build/fuzz" >/dev/null ;;
    fuzz)
      cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null ;;
    win32|win64)
      cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$t.cmake" >/dev/null ;;
    *) echo "unknown target $t" >&2; exit 2 ;;
  esac
  cmake --build "$dir" -j "$jobs"
done
