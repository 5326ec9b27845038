#!/usr/bin/env bash
# Throughput of hashFileSha256 against `openssl dgst -sha256` on the same page-cached 1 GiB
# file, measured in the same run. Prints the best of several runs of each and their ratio
# (ours / OpenSSL's throughput; the goal is at least 0.95). A benchmark, not a test.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
runs=${RUNS:-5}
cmake --build "$build_dir" --target hash_bench > /dev/null
bench="$build_dir/bench/hash_bench"

file=$(mktemp "${TMPDIR:-/tmp}/hash-bench.XXXXXX")
trap 'rm -f "$file"' EXIT
head -c 1073741824 /dev/urandom > "$file"
cat "$file" > /dev/null

# shellcheck source=bench/timing.sh
. bench/timing.sh
best_ours=""
best_openssl=""
for _ in $(seq "$runs"); do
    best_openssl=$(min "$best_openssl" "$(seconds openssl dgst -sha256 "$file")")
    best_ours=$(min "$best_ours" "$(seconds "$bench" "$file")")
done
[ "$("$bench" "$file" | cut -d' ' -f2)" = "$(openssl dgst -sha256 -r "$file" | cut -d' ' -f1)" ] \
    || { echo "digests differ" >&2; exit 1; }
awk -v o="$best_openssl" -v h="$best_ours" 'BEGIN {
    printf "openssl dgst -sha256: %.3f s (%.0f MiB/s)\n", o, 1024 / o
    printf "hashFileSha256:       %.3f s (%.0f MiB/s)\n", h, 1024 / h
    printf "throughput ratio (hashFileSha256 / openssl): %.3f\n", o / h
}'
