#!/usr/bin/env bash
# Long fuzzing campaigns: builds build/fuzz, then runs every fuzz target for SECONDS each
# (default 600), one after another. Each target's corpus grows in build/fuzz/campaign/<target>/
# from its seeds in tests/fuzz/corpus/<target>/; crashes land in build/fuzz/findings/<target>/.
# Prints per target its executions, coverage (cov: edges, ft: features) and findings.
# A crash found becomes a regression: copy it into tests/fuzz/corpus/<target>/ with the mend.
# Usage: scripts/fuzz.sh [SECONDS] [target ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
"$root/scripts/build.sh" fuzz >/dev/null
bin="$root/build/fuzz/tests/fuzz"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$bin"/fuzz_*; do
    [ -x "$f" ] && targets+=("${f##*/fuzz_}")
  done
fi
summary=()
for t in "${targets[@]}"; do
  corpus="$root/build/fuzz/campaign/$t" findings="$root/build/fuzz/findings/$t"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  log="$root/build/fuzz/campaign/$t.log"
  echo "== $t: $seconds s (log $log)"
  status=0
  "$bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  line="$t: ${runs:-?} executions, ${coverage:-no coverage line}, corpus $(find "$corpus" -type f | wc -l) inputs, findings $found (exit $status)"
  echo "$line"
  summary+=("$line")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
