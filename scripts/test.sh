#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Linux build under CTest; the same
# tests built with clang under AddressSanitizer and UndefinedBehaviorSanitizer, and every fuzz
# target for a few seconds over its seeds; then the Windows build (LauncherUpdater.exe and its
# test programs, cross-built with mingw-w64 against Qt and OpenSSL built from Debian's sources)
# under Wine. Fails when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# The tests may not grow past the share of the code they have today; the goal is 0.40.
LIMIT=0.52 scripts/test-size.sh --check
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure
scripts/build-sanitized.sh
ctest --test-dir "${SANITIZED_BUILD_DIR:-build-sanitized}" --output-on-failure
scripts/fuzz.sh "${FUZZ_SECONDS:-5}"
scripts/test-windows.sh
