#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the three targets, runs CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
# A machine without the win32 VM's image makes it (minutes of software emulation) while the
# trees build; the win32 suites' setup waits for it.
mkdir -p "$root/build"
"$root/scripts/win32-vm.sh" image >"$root/build/win32-vm-image.log" 2>&1 &
"$root/scripts/build.sh"
ctest --test-dir "$root/build/linux64" --output-on-failure -j 2 --timeout 600 "$@"
