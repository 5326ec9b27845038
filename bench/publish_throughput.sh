#!/usr/bin/env bash
# launcher-publish manifest over a page-cached build of 2000 files (1 GiB) against
# `openssl dgst -sha256` over the same files, measured in the same run. Prints the best of
# several runs of each and their ratio (the tool's throughput / OpenSSL's; the tool hashes with
# the updater's own hashing, so the goal is at least 0.95). A benchmark, not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
runs=${RUNS:-3}
cmake --build "$build_dir" --target launcher-publish > /dev/null
publish="$build_dir/tools/publish/launcher-publish"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/publish-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
for directory in $(seq -w 0 19); do
    mkdir -p "$scratch/build/$directory"
    for file in $(seq -w 0 99); do
        head -c 536870 /dev/urandom > "$scratch/build/$directory/$file.pak"
    done
done
cat "$scratch"/build/*/* > /dev/null

# shellcheck source=bench/timing.sh
. bench/timing.sh
manifest() {
    rm -f "$scratch/manifest.json"
    "$publish" manifest --build "$scratch/build" --manifest-id m --game-id g --channel stable \
        --generation 1 --output "$scratch/manifest.json"
}
baseline() { find "$scratch/build" -type f -print0 | xargs -0 openssl dgst -sha256; }
best_tool=""
best_baseline=""
for _ in $(seq "$runs"); do
    best_baseline=$(min "$best_baseline" "$(seconds baseline)")
    best_tool=$(min "$best_tool" "$(seconds manifest)")
done
awk -v b="$best_baseline" -v t="$best_tool" 'BEGIN {
    printf "openssl dgst, 2000 files:      %.3f s (%.0f MiB/s)\n", b, 1024 / b
    printf "launcher-publish manifest:     %.3f s (%.0f MiB/s)\n", t, 1024 / t
    printf "throughput ratio (tool / openssl dgst): %.3f\n", b / t
}'
