#!/usr/bin/env bash
# Builds LauncherUpdater.exe and the Windows test programs (scripts/build-windows.sh), then runs
# under Wine every Windows test program, and the whole-process tests of the Linux build
# (build/tests/app/tst_jobs_process and
# build/tests/tools/tst_publish) against LauncherUpdater.exe and launcher-publish.exe. Needs the
# Linux build first.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_dir=${BUILD_DIR:-build}
windows_dir=${WINDOWS_BUILD_DIR:-$PWD/build-windows}
scripts/build-windows.sh "$windows_dir"

# shellcheck source=scripts/wine-env-windows.sh
. scripts/wine-env-windows.sh
# The whole-process tests run from the Linux driver below, which starts the program through Wine.
whole_process='^(jobs_process|publish)$'
ctest --test-dir "$windows_dir" --output-on-failure --timeout 600 -E "$whole_process"
LAUNCHERUPDATER_EXE="$windows_dir/src/app/LauncherUpdater.exe" LAUNCHERUPDATER_RUNNER=wine \
    LAUNCHERUPDATER_TESTKEYS_EXE="$windows_dir/tests/support/testkeys/LauncherUpdater.exe" \
    LAUNCHERUPDATER_TEST_LAUNCHER_EXE="$windows_dir/tests/app/test_launcher.exe" \
    LAUNCHERUPDATER_PUBLISH_EXE="$windows_dir/tools/publish/launcher-publish.exe" \
    ctest --test-dir "$linux_dir" --output-on-failure -R "$whole_process"
