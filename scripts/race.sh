#!/usr/bin/env bash
# Runs the race test for longer than CI does: an unprivileged user (nobody) swaps links into the
# directories it owns while the repair and the update run as root, again and again, and every run
# is checked for an escape (a file outside created, changed or removed, or a secret read into the
# installation). Prints the runs and escapes of each attack; fails on any escape. Linux, as root.
#
#   scripts/race.sh [SECONDS_PER_ATTACK] [BUILD_DIR]   # default: 120, build
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
build_dir=${2:-${BUILD_DIR:-build}}
cmake --build "$build_dir" --target tst_race > /dev/null
LAUNCHERUPDATER_RACE_SECONDS=$seconds "$build_dir/tests/app/tst_race" | grep -E 'QINFO|FAIL|Totals'
