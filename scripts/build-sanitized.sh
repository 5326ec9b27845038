#!/usr/bin/env bash
# Configures and builds the Linux tree with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in ${SANITIZED_BUILD_DIR:-build-sanitized}: the tests, and the
# libFuzzer targets under fuzz/. Any finding ends the process that made it.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${SANITIZED_BUILD_DIR:-build-sanitized}
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# Coverage counters in every object, so that the fuzz targets see the product's branches.
flags="$flags -fsanitize=fuzzer-no-link"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DLAUNCHERUPDATER_FUZZ=ON "$@"
cmake --build "$build_dir"
