#!/usr/bin/env bash
# A short run of one fuzz target: the seed corpus (crash regressions included) is replayed,
# then fuzzing goes on for SECONDS. New inputs and crashes go to the scratch folder, never into
# the tree. A finding fails the run with exit 1 (libFuzzer's own code for it, 77, is CTest's
# skip code). Exit 77 (skipped) when the fuzz build is missing, except in CI, where that fails.
# Usage: smoke.sh <fuzz executable> <seed corpus> <scratch folder> <seconds>
set -euo pipefail
fuzzer=$1 seeds=$2 scratch=$3 seconds=$4
if [ ! -x "$fuzzer" ]; then
  echo "not built: $fuzzer (scripts/build.sh fuzz builds it)"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
rm -rf "$scratch"
mkdir -p "$scratch/corpus"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -error_exitcode=1 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$scratch/" "$scratch/corpus" "$seeds"
