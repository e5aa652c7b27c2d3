#!/usr/bin/env bash
# Demonstration: an installation of tavo + tavo2 with the reference proxy, checked by
# tavotester against the local XML service. Prints the tester's log and its verdict.
# Usage: scripts/demo-tavotester.sh [linux64 build dir]   (default build/linux64, already built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/xml-service.sh" "${1:-$root/build/linux64}"
install_dir=$work_dir

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
