#!/usr/bin/env bash
# Demonstration: a native host loads tavo2 with the reference proxy, which talks to the local
# XML service; prints a transaction code, the service's XML reply and the daily log.
# Usage: scripts/demo-service.sh [linux64 build dir]   (default build/linux64, already built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/xml-service.sh" "${1:-$root/build/linux64}"

printf '%s\njvmdllpath=%s\noption=-Dtavo.endpoint=%s\n' \
  "$build/java/service/tavo-proxy.jar" "$jvm_library" "$endpoint" >"$work_dir/tavodll_classpath.conf"

echo "== native host with tavo2 in $work_dir (local XML service at $endpoint)"
# The host runs a JVM, which the sanitizers of a test build must leave alone.
(cd "$work_dir" && ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0 \
  "$build/tests/service/tavo2_host" "$build/service/libtavo2.so" \
  start check code 999 sendS ANAGRAFE MMG01 '<richiesta><assistito>RSSMRA80A01H501U</assistito></richiesta>' stop)
results="$work_dir/host.out"
echo "startTavo:        $(sed -n 's/^start=//p' "$results")"
echo "checkTransport:   $(sed -n 's/^check=//p' "$results")"
echo "getCodiceTAVO:    $(sed -n 's/^code=//p' "$results")"
echo "sendMessageS:     $(sed -n 's/^sendMessageS=//p' "$results")"
echo "-- $(cd "$work_dir" && ls tavodll_*.log)"
cat "$work_dir"/tavodll_*.log
grep -q '^sendMessageS=<?xml' "$results"
