#!/usr/bin/env bash
# A long campaign of the update race: hosts starting together on a pending update, some killed
# at random moments, then one clean host (the test UpdateRace of tavo_update_faults_test).
# Builds an optimised copy without sanitizers in build/race-linux64 (hosts start faster there).
# Usage: scripts/update-race.sh [rounds per variant, default 10000] [hosts per round, default 12]
# VANTREL_RACE_SEED repeats a campaign; RACE_VARIANT=together|killed runs one variant only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-10000}
hosts=${2:-12}
dir="$root/build/race-linux64"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZE=OFF >/dev/null
cmake --build "$dir" -j "${BUILD_JOBS:-2}" --target tavo_update_faults_test >/dev/null
case "${RACE_VARIANT:-}" in
  together) filter='UpdateRace.HostsStartingTogether' ;;
  killed) filter='UpdateRace.HostsStartingTogetherSomeKilledAtRandomMoments' ;;
  *) filter='UpdateRace.*' ;;
esac
VANTREL_RACE_ROUNDS=$rounds VANTREL_RACE_HOSTS=$hosts \
  "$dir/tests/stub/tavo_update_faults_test" --gtest_filter="$filter"
