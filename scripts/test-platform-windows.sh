#!/usr/bin/env bash
# Cross-builds the OS layer and its tests for Windows with mingw-w64 and runs the tests under
# Wine in a throwaway prefix, without a display. Exits with the test program's exit code.
#
# Usage: scripts/test-platform-windows.sh [BUILD_DIR [TEST_NAME]]
#   BUILD_DIR defaults to build-win-platform (relative to the repository root); a test name, if
#   given, runs only that case.
# Needs Debian's g++-mingw-w64-x86-64, wine64 and wine (the latter two give `wine`).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build-win-platform}"
[[ $# -gt 0 ]] && shift
[[ "$build" = /* ]] || build="$root/$build"

cmake -S "$root" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
    -DLAUNCHERUPDATER_PLATFORM_ONLY=ON
cmake --build "$build" --parallel "$(nproc)"
test_exe="$build/tests/platform/platform_test.exe"

if command -v wine >/dev/null; then
    wine=wine
elif [[ -x /usr/lib/wine/wine64 ]]; then
    wine=/usr/lib/wine/wine64
else
    echo "wine not found: install Debian's wine64 and wine packages" >&2
    exit 1
fi
if command -v wineserver >/dev/null; then
    wineserver=wineserver
else
    wineserver=/usr/lib/wine/wineserver
fi

prefix="$(mktemp -d "${TMPDIR:-/tmp}/lu-wine-prefix.XXXXXX")"
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
}
trap cleanup EXIT

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No display: wineboot must not wait for one, nor offer to download Mono or Gecko.
export DISPLAY=
unset WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="

boot_log="$prefix/boot.log"
if ! timeout 600 "$wine" wineboot -i </dev/null >"$boot_log" 2>&1 ||
    ! timeout 300 "$wineserver" -w; then
    cat "$boot_log" >&2
    echo "wineboot failed or hung" >&2
    exit 1
fi
# A new prefix reports Windows 7; the product targets Windows 10.
timeout 300 "$wine" winecfg -v win10 </dev/null >>"$boot_log" 2>&1 || {
    cat "$boot_log" >&2
    echo "winecfg -v win10 failed" >&2
    exit 1
}

status=0
timeout 600 "$wine" "$test_exe" "$@" </dev/null || status=$?
exit "$status"
