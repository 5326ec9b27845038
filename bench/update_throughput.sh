#!/usr/bin/env bash
# Full launcher updates of 1000, 5000 and 20000 small files (the largest package allowed), each
# applied by the LauncherUpdater executable to an installation of the same paths with the old
# content, the test launcher acknowledging at once. Baseline, measured in the same run on the
# same staged tree: copying it with `cp -r`, then one `sync`. Prints, per size, both times, their
# ratio, the update's time per file and the bytes it wrote (getrusage's blocks, from python3)
# beside the package's size; then how the time per file grows from the smallest package to the
# largest (1.0: linear in the number of files). Goals: a ratio of at most 1.5 at 20000 files, and
# at most 1.5 times the time per file of 1000 files. A benchmark, not a test.
#
#   bench/update_throughput.sh [BUILD_DIR]   # default: build
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-${BUILD_DIR:-build}}
sizes=(1000 5000 20000)
cmake --build "$build_dir" --target LauncherUpdater test_launcher > /dev/null
updater="$build_dir/src/app/LauncherUpdater"
launcher="$build_dir/tests/app/test_launcher"

work=$(mktemp -d "${TMPDIR:-/var/tmp}/update-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
now() { date +%s%N; }

# N files in all: the two executables and N-2 files of 512 bytes, 100 to a directory. `tag`
# makes the content of one tree differ from the other's.
make_tree() {
    local root=$1 files=$2 tag=$3
    mkdir -p "$root"
    (cd "$root" && seq 0 $(( (files - 3) / 100 )) | sed 's/^/d/' | xargs mkdir -p)
    awk -v root="$root" -v n=$(( files - 2 )) -v tag="$tag" 'BEGIN {
        block = tag; while (length(block) < 512) block = block " " tag
        for (i = 0; i < n; i++) {
            file = sprintf("%s/d%d/f%d.dat", root, int(i / 100), i)
            printf "%s", substr(i " " block, 1, 512) > file
            close(file)
        }
    }'
}

# Runs a command and prints the bytes it and its children wrote to the disk.
written_bytes() {
    python3 - "$@" << 'EOF'
import os, subprocess, sys
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
print(usage.ru_oublock * 512)
sys.exit(os.waitstatus_to_exitcode(status))
EOF
}

declare -A per_file ratio
for n in "${sizes[@]}"; do
    make_tree "$work/inst-$n" "$n" old
    echo "old launcher" > "$work/inst-$n/ClientLauncher.exe"
    echo "old updater" > "$work/inst-$n/LauncherUpdater.exe"
    make_tree "$work/staged-$n" "$n" new
    cp "$launcher" "$work/staged-$n/ClientLauncher.exe"
    echo "new updater" > "$work/staged-$n/LauncherUpdater.exe"
    sync

    # Copies stay until the end: removing a tree keeps the disk busy for a while afterwards,
    # which would be charged to whatever runs next.
    start=$(now)
    cp -r "$work/staged-$n" "$work/copy-$n"
    sync
    baseline=$(( $(now) - start ))

    # A parent process that has ended already, so the update starts at once.
    sleep 0 &
    parent=$!
    wait "$parent"
    start=$(now)
    written=$(LAUNCHERUPDATER_TEST_LAUNCHER="exit" written_bytes "$updater" --apply-update \
        --install-root "$work/inst-$n" --staged-root "$work/staged-$n" --version 2.0.0 \
        --ack "$work/ack-$n" --parent-pid "$parent")
    update=$(( $(now) - start ))
    package=$(du -s -B1 --apparent-size "$work/staged-$n" | cut -f1)
    if ! diff -r -q -x .tavorin-update "$work/staged-$n" "$work/inst-$n" > /dev/null; then
        echo "update_throughput: the installation of $n files is not the staged tree" >&2
        exit 1
    fi
    per_file[$n]=$(awk -v u="$update" -v n="$n" 'BEGIN { printf "%.1f", u / 1e3 / n }')
    ratio[$n]=$(awk -v u="$update" -v b="$baseline" 'BEGIN { printf "%.2f", u / b }')
    awk -v n="$n" -v b="$baseline" -v u="$update" -v f="${per_file[$n]}" -v r="${ratio[$n]}" \
        -v w="$written" -v p="$package" 'BEGIN {
        printf "%5d files: update %.2f s, baseline (cp -r, sync) %.2f s, ratio %s, %s us per file, ",
            n, u / 1e9, b / 1e9, r, f
        printf "wrote %.1f MB for a package of %.1f MB\n", w / 1e6, p / 1e6
    }'
done
first=${sizes[0]}
last=${sizes[-1]}
awk -v a="${per_file[$first]}" -v b="${per_file[$last]}" -v first="$first" -v last="$last" \
    -v r="${ratio[$last]}" 'BEGIN {
    printf "ratio at %d files: %s (goal: at most 1.5)\n", last, r
    printf "time per file, %d files / %d files: %.2f (goal: at most 1.5)\n", last, first, b / a
}'
