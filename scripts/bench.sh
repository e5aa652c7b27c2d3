#!/usr/bin/env bash
# Runs every benchmark and writes the results: build/bench-results/results.md (tables),
# token.csv, threads.csv, service.csv, memory_samples.csv and benchmarks.png.
#   scripts/bench.sh --profile   instead counts instructions per call of the token workloads
#                                with callgrind (profile.md, profile.csv, callgrind/)
#   BENCH_REPS   repetitions per workload (default 7); BENCH_OUT   results folder
# The benchmarks use their own optimised build without sanitizers (build/bench-linux64), a
# SoftHSM2 token and a service working folder in a private temp dir, and the installed JVM.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
reps=${BENCH_REPS:-7}
out=${BENCH_OUT:-$root/build/bench-results}
build=$root/build/bench-linux64
module=${SOFTHSM_MODULE:-/usr/lib/softhsm/libsofthsm2.so}

"$root/scripts/setup.sh"
if ! command -v gnuplot >/dev/null; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends gnuplot-nox
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_SANITIZE=OFF >/dev/null
cmake --build "$build" -j 2 --target bench_programs >/dev/null
# shellcheck source=/dev/null
. "$build/bench/bench_paths.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

"$root/tests/bridge/softhsm_token.sh" setup "$work/softhsm"
export SOFTHSM2_CONF=$work/softhsm/softhsm2.conf
p11bench=("$JAVA" -Djava.library.path="$P11BRIDGE_DIR" --add-modules jdk.crypto.cryptoki
  --add-exports jdk.crypto.cryptoki/sun.security.pkcs11.wrapper=ALL-UNNAMED
  -cp "$P11BENCH_CLASSPATH" it.vantrel.pkcs11.bench.P11Bench)

if [ "${1:-}" = "--profile" ]; then
  # Counting only inside the natives of both wrappers, zeroed when the measured calls begin.
  calls=${BENCH_PROFILE_CALLS:-2000}
  command -v valgrind >/dev/null || { echo "valgrind is needed for --profile" >&2; exit 1; }
  profiles=$out/callgrind  # kept for callgrind_annotate
  rm -rf "$profiles"
  mkdir -p "$profiles"
  for workload in session_info attribute_label aes_ecb_16 find_100 slot_list token_info mechanism_list \
    certificate_value_1k create_object_6 find_1000 session_info_traced; do
    n=$calls
    case "$workload" in
      find_100) n=$((calls / 40)) ;;
      find_1000) n=$((calls / 400)) ;;
    esac
    # The traced row traces into the trace file of its own folder.
    debug=()
    [ "$workload" = session_info_traced ] && debug=(env PKCS11_OXL_DEBUG=2)
    mkdir -p "$work/profile.$workload"
    for way in bridge jdk; do
      echo "callgrind: $workload $way ($n calls)"
      (cd "$work/profile.$workload" && "${debug[@]}" valgrind --tool=callgrind \
        --callgrind-out-file="$profiles/callgrind.$workload.$way" \
        --toggle-collect='Java_it_vantrel_pkcs11_*' --toggle-collect='Java_sun_security_pkcs11_wrapper_*' \
        --zero-before=Java_it_vantrel_pkcs11_nat_NativePKCS11_getBridgeVersion \
        "${p11bench[@]}" profile "$module" "$workload" "$n" "$way" >/dev/null 2>"$work/valgrind.log") ||
        { cat "$work/valgrind.log" >&2; exit 1; }
      echo "$n" >"$profiles/calls.$workload.$way"
    done
  done
  python3 "$root/bench/profile.py" "$out" "$profiles"
  cat "$out/profile.md"
  exit 0
fi

echo "token: floor, then bridge and JDK wrapper ($reps repetitions)"
"$P11FLOOR" "$module" "$reps" >"$work/token.csv"
"${p11bench[@]}" run "$module" "$reps" >>"$work/token.csv"
# The traced row in a JVM of its own: once on, the trace stays on for the process. Standard
# output goes to the trace file with it, so the samples go to a file of their own.
mkdir "$work/traced"
(cd "$work/traced" && PKCS11_OXL_DEBUG=2 "${p11bench[@]}" run "$module" "$reps" "$work/traced.csv" >/dev/null)
cat "$work/traced.csv" >>"$work/token.csv"
# Eight threads signing: the bridge and the JDK wrapper on the module initialised without OS
# locking (one JVM), then the wrapper on the module it initialises with CKF_OS_LOCKING_OK.
echo "token: 8 threads signing ($reps repetitions)"
"${p11bench[@]}" threads "$module" "$reps" "$work/threads.csv"
"${p11bench[@]}" threads-os-locking "$module" "$reps" "$work/threads_os_locking.csv"
cat "$work/threads_os_locking.csv" >>"$work/threads.csv"
# Peak memory: a JVM of its own for every sample, so that each way's peak is its own.
echo "memory: peak resident size over 16 MB encryptions, bridge and JDK wrapper ($reps repetitions)"
for _ in $(seq "$reps"); do
  for way in bridge jdk; do "${p11bench[@]}" peak "$module" "$way" 20 >>"$work/memory.csv"; done
done

echo "service: tavo2 and floors ($reps repetitions)"
mkdir "$work/service"
printf '%s\njvmdllpath=%s\n' "$BENCH_PROXY_JAR" "$JVM_LIBRARY" >"$work/service/tavodll_classpath.conf"
(cd "$work/service" && "$SERVICE_BENCH" "$TAVO2_LIBRARY" "$JVM_LIBRARY" "$work/service.csv" "$reps")

cp "$work/token.csv" "$out/token_samples.csv"
cp "$work/service.csv" "$out/service_samples.csv"
cp "$work/threads.csv" "$out/threads_samples.csv"
cp "$work/memory.csv" "$out/memory_samples.csv"
python3 "$root/bench/report.py" "$work/token.csv" "$work/service.csv" "$out" "$root/bench/plot.gp" "$work/threads.csv" \
  "$work/memory.csv"
cat "$out/results.md"
echo "written: $out/results.md token.csv threads.csv service.csv benchmarks.png"
