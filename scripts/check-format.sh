#!/usr/bin/env bash
# Fails, naming the files, when a tracked C or C++ source differs from what .clang-format makes of it.
# With --fix, formats them in place instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1 >/dev/null) || true
if [ -n "$report" ]; then
  echo "not formatted as .clang-format says (scripts/check-format.sh --fix mends them):" >&2
  grep -o '^[^:]*:[0-9]*:[0-9]*: error' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /' >&2
  exit 1
fi
echo "${#files[@]} sources formatted"
