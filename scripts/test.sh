#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Linux build under CTest, then the
# Windows build (LauncherUpdater.exe and its test programs, cross-built with mingw-w64 against
# Qt and OpenSSL built from Debian's sources) under Wine. Fails when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure
scripts/test-windows.sh
