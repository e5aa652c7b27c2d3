#!/usr/bin/env bash
# The Windows builds of atrprobe and atrprobejni2: export and import tables of both targets, and
# the win64 atrprobe.dll loaded by a host under Wine (Wine offers no usable PC/SC service here, so
# both exports must come back with a PC/SC failure code and no ATR).
# Usage: windows_atr_test.sh <win32 build dir> <win64 build dir>
set -euo pipefail
win32=$1
win64=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() { [ "$1" == "$2" ] || fail "$3: expected [$1], got [$2]"; }

exports() { objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}' | sort | tr '\n' ' '; }
imports() { objdump -p "$1" | awk '/DLL Name:/ {print $3}' | sort -u | tr '\n' ' '; }
# Names imported from one DLL (objdump lists them under its "DLL Name:" line).
imported_from() {
  objdump -p "$1" | awk -v dll="$2" '/DLL Name:/ {inside = ($3 == dll); next} inside && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3} inside && NF == 0 {inside = 0}' | tr '\n' ' '
}

expect_eq "?csgetatr@@YAHXZ getatrstr " "$(exports "$win32/atr/atrprobe.dll")" "win32 atrprobe.dll exports"
expect_eq "?csgetatr@@YAHXZ getatrstr " "$(exports "$win64/atr/atrprobe.dll")" "win64 atrprobe.dll exports"
expect_eq "_Java_it_vantrel_tirvex_util_ATR_getATRdll@12 " "$(exports "$win32/atr/atrprobejni2.dll")" "win32 atrprobejni2.dll exports"
expect_eq "Java_it_vantrel_tirvex_util_ATR_getATRdll " "$(exports "$win64/atr/atrprobejni2.dll")" "win64 atrprobejni2.dll exports"
for dir in "$win32" "$win64"; do
  expect_eq "KERNEL32.dll WinSCard.dll msvcrt.dll " "$(imports "$dir/atr/atrprobe.dll")" "imports of $dir atrprobe.dll"
  expect_eq "KERNEL32.dll atrprobe.dll msvcrt.dll " "$(imports "$dir/atr/atrprobejni2.dll")" "imports of $dir atrprobejni2.dll"
  expect_eq "getatrstr " "$(imported_from "$dir/atr/atrprobejni2.dll" atrprobe.dll)" "$dir atrprobejni2.dll imports from atrprobe.dll"
done

scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No PC/SC daemon for Wine's winscard to find.
export PCSCLITE_CSOCK_NAME="$scratch/no-pcscd.comm"
wine=/usr/lib/wine/wine64
cleanup() { /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true; rm -rf "$scratch"; }
trap cleanup EXIT
cp "$win64/atr/atrprobe.dll" "$win64/tests/atr/atr_host.exe" "$scratch/"
output=$(cd "$scratch" && "$wine" atr_host.exe verbose 2>/dev/null | tr -d '\r') || fail "atr_host.exe exit status $?"
echo "$output"
code=$(sed -n 's/^getatrstr result=\([0-9a-f]*\) length=0$/\1/p' <<<"$output")
[ -n "$code" ] && [ "$code" != 0 ] || fail "getatrstr under Wine: expected a failure code and length 0"
grep -q "^csgetatr result=$code$" <<<"$output" || fail "csgetatr under Wine: expected the same code"
[ "$(grep -c "^Error \[0x$code\]: Program terminated abnormally.$" <<<"$output")" == 2 ] ||
  fail "error line not written by both exports"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all checks passed"
