#!/usr/bin/env bash
# Runs every fuzz target (or those named) for SECONDS each, one after another, and prints per
# target its executions, coverage, corpus size and CPU time. The seeds in fuzz/corpus/<target>
# are only read: what a run adds goes to ${FUZZ_WORK_DIR:-build-sanitized/fuzz-corpus}/<target>,
# where the next run goes on from. A crash, leak, sanitizer report or timeout fails the script;
# the input that made it lands in the work directory as crash-*, leak-* or timeout-*.
#   scripts/fuzz.sh SECONDS [TARGET...]        (build first: scripts/build-sanitized.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
build_dir=${SANITIZED_BUILD_DIR:-build-sanitized}
work=${FUZZ_WORK_DIR:-$build_dir/fuzz-corpus}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=($(ls fuzz/corpus))
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
failed=0
printf '%-18s %12s %8s %8s %8s %8s\n' target executions cov ft corpus cpu-s
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    log="$work/$target.log"
    TIMEFORMAT=%U+%S
    cpu=$( { time "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=4096 -print_final_stats=1 -dict="fuzz/dict/$target.dict" \
        -artifact_prefix="$work/" "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1 || \
        echo FAILED >>"$log"; } 2>&1 )
    cpu=$(echo "$cpu" | tail -1 | awk -F+ '{print $1 + $2}')
    if grep -q '^FAILED$' "$log"; then
        failed=1
        echo "fuzz_$target failed; its report:" >&2
        grep -v '^#' "$log" | tail -40 >&2
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    coverage=$(echo "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
    features=$(echo "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
    corpus=$(echo "$last" | sed -n 's/.* corp: \([0-9]*\).*/\1/p')
    printf '%-18s %12s %8s %8s %8s %8s\n' "$target" "${executions:-?}" "${coverage:-?}" \
        "${features:-?}" "${corpus:-?}" "$cpu"
done
exit $failed
