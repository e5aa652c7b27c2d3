#!/usr/bin/env bash
# The Windows builds of the stub and the tester: export and import tables of both targets, and
# the win64 pair run under Wine (entry point, update swap, forwarding, fallbacks, verdicts).
# Usage: wine_stub_test.sh <win32 build dir> <win64 build dir>
set -euo pipefail
win32=$1
win64=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: expected [$1], got [$2]"; }
# Windows text mode writes CR LF line endings.
has_line() { grep -q "$1" <(cat "${@:2}" | tr -d '\r'); }

exports() { objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}' | sort | tr '\n' ' '; }
imports() { objdump -p "$1" | awk '/DLL Name:/ {print $3}' | sort -u | tr '\n' ' '; }

plain="checkTransport getCodiceTAVO getRideConfig getVersionePorta sendMessageA sendMessageS startTavo stopTavo "
decorated="_checkTransport@0 _getCodiceTAVO@4 _getRideConfig@0 _getVersionePorta@0 _sendMessageA@20 _sendMessageS@20 _startTavo@0 _stopTavo@0 "
expect_eq "$decorated$plain" "$(exports "$win32/stub/tavo.dll")" "win32 tavo.dll exports"
expect_eq "$plain" "$(exports "$win64/stub/tavo.dll")" "win64 tavo.dll exports"
for dir in "$win32" "$win64"; do
  for file in stub/tavo.dll tester/tavotester.exe; do
    expect_eq "KERNEL32.dll msvcrt.dll " "$(imports "$dir/$file")" "imports of $dir/$file"
  done
done

scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
cleanup() { /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true; rm -rf "$scratch"; }
trap cleanup EXIT

# One installation per case: tavo.dll, tavotester.exe and the named service client files.
run_case() {
  local name=$1; shift
  local dir="$scratch/$name"
  mkdir -p "$dir"
  cp "$win64/stub/tavo.dll" "$win64/tester/tavotester.exe" "$dir/"
  while [ $# -gt 0 ]; do cp "$win64/tests/stub/$1" "$dir/$2"; shift 2; done
  (cd "$dir" && "$wine" tavotester.exe >/dev/null 2>&1; echo $? >exit_status) || true
}

run_case update stand_in_tavo2.dll tavo2.dll stand_in_tavo2_variant.dll tavo2upd.dll
d="$scratch/update"
expect_eq 0 "$(cat "$d/exit_status")" "update: exit status"
has_line "^Versione porta: '2.0-dev'$" "$d/tavotavotester.log" || fail "update: new version not forwarded to"
cmp -s "$d/tavo2bck.dll" "$win64/tests/stub/stand_in_tavo2.dll" || fail "update: backup is not the old file"
cmp -s "$d/tavo2.dll" "$win64/tests/stub/stand_in_tavo2_variant.dll" || fail "update: new file not in place"
[ ! -e "$d/tavo2upd.dll" ] || fail "update: tavo2upd.dll left behind"
expect_eq "OK" "$(cat "$d/CheckDump.txt")" "update: dump"
has_line "DEBUG - tavo2upd.dll: CreateFile=80$" "$d"/tavobridge_*.log || fail "update: probe result not logged"

run_case partial partial_tavo2.dll tavo2.dll
d="$scratch/partial"
expect_eq 253 "$(cat "$d/exit_status")" "partial: exit status"
expect_eq "checkTransport: funzione NULL" "$(cat "$d/CheckDump.txt")" "partial: dump"
has_line "DEBUG - getVersionePorta KO$" "$d"/tavobridge_*.log || fail "partial: KO line missing"
has_line "ERROR - checkTransport: funzione NULL" "$d"/tavobridge_*.log || fail "partial: call line missing"
[ ! -e "$d/tavo2upd.dll" ] || fail "partial: probe file left behind"

# Without tavo2.dll the stub refuses to load, so the tester stops before any dump entry.
run_case missing
d="$scratch/missing"
expect_eq 255 "$(cat "$d/exit_status")" "missing: exit status"
has_line "^dll not loaded$" "$d/tavotavotester.log" || fail "missing: tester log"
has_line "ERROR - DllStubMain.DLL_PROCESS_ATTACH, hGetProcIDDLL == NULL : 126 !$" "$d"/tavobridge_*.log ||
  fail "missing: load error not logged"
[ ! -e "$d/CheckDump.txt" ] || fail "missing: dump written"

[ "$failures" -eq 0 ] && echo "all Windows stub checks passed"
exit "$failures"
