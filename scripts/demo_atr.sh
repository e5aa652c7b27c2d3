#!/usr/bin/env bash
# Reads the ATR of a virtual card through Java: a private pcscd with the vpcd reader, our virtual
# card in it, and it.vantrel.tirvex.util.ATR calling atrprobejni2 -> atrprobe -> PC/SC.
# Usage: scripts/demo_atr.sh [linux64 build dir]   (default build/linux64; built by scripts/build.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux64}
atr_hex=3b8e800180318066b1840c016e01830090001c
stack=$(mktemp -d /tmp/vantrel-atr-demo.XXXXXX)
harness=("$(command -v python3)" "$root/tests/atr/pcsc_env.py")
cleanup() { "${harness[@]}" stop "$stack" || true; }
trap cleanup EXIT

"${harness[@]}" start "$stack" --readers 2
"${harness[@]}" insert "$stack" 0 "$atr_hex"
echo "Virtual card in reader 1 with ATR $atr_hex"

library_dir="$build/atr"
java_env=(PCSCLITE_CSOCK_NAME="$stack/pcscd.comm")
# A sanitized build needs the ASan runtime loaded ahead of the JVM.
if ldd "$library_dir/libatrprobejni2.so" | grep -q libasan; then
  java_env+=(LD_PRELOAD="$(gcc -print-file-name=libasan.so)"
             ASAN_OPTIONS=detect_leaks=0:handle_segv=0:allow_user_segv_handler=1:use_sigaltstack=0)
fi
env "${java_env[@]}" java -Djava.library.path="$library_dir" -cp "$build/java/atr/atr.jar" \
  it.vantrel.tirvex.util.ATR
