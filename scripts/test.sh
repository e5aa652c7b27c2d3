#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the three targets, runs CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
ctest --test-dir "$root/build/linux64" --output-on-failure -j 2 --timeout 600 "$@"
