#!/usr/bin/env bash
# Demonstration: an installation of tavo + tavo2 with the reference proxy, checked by
# tavotester against the local XML service. Prints the tester's log and its verdict.
# Usage: scripts/demo-tavotester.sh [linux64 build dir]   (default build/linux64, already built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux64}" && pwd)
java=$(readlink -f "$(command -v java)")
jvm_library="$(dirname "$(dirname "$java")")/lib/server/libjvm.so"
install_dir=$(mktemp -d)
service_pid=""
cleanup() {
  [ -z "$service_pid" ] || { kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; }
  rm -rf "$install_dir"
}
trap cleanup EXIT

"$java" -jar "$build/java/service/tavo-xmlservice.jar" 0 "$install_dir/port" >/dev/null &
service_pid=$!
for _ in $(seq 1 600); do [ -s "$install_dir/port" ] && break; sleep 0.05; done
[ -s "$install_dir/port" ] || { echo "the local XML service did not start" >&2; exit 1; }
endpoint="http://127.0.0.1:$(cat "$install_dir/port")/tavo"

cp "$build/stub/libtavo.so" "$build/service/libtavo2.so" "$build/tester/tavotester" "$install_dir/"
cat >"$install_dir/tavodll_classpath.conf" <<CONF
$build/java/service/tavo-proxy.jar
jvmdllpath=$jvm_library
option=-Dtavo.endpoint=$endpoint
CONF

echo "== tavotester in $install_dir (local XML service at $endpoint)"
status=0
# The tester hosts a JVM, whose memory LeakSanitizer cannot scan in sanitizer builds.
(cd "$install_dir" && ASAN_OPTIONS=detect_leaks=0 ./tavotester) || status=$?
echo "-- tavotavotester.log"
cat "$install_dir/tavotavotester.log"
echo "-- CheckDump.txt: $(cat "$install_dir/CheckDump.txt")"
case $status in
  0) echo "verdict: POSITIVE (exit status 0)" ;;
  253) echo "verdict: NEGATIVE (exit status -3)" ;;
  255) echo "verdict: FAILED TO START (exit status -1)" ;;
  *) echo "verdict: unexpected exit status $status" ;;
esac
exit "$status"
