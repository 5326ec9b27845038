# shellcheck shell=bash
# Sets up a throwaway Wine prefix for running the Windows build's executables; source it:
#
#   . scripts/wine-env-windows.sh
#   wine build-windows/src/app/LauncherUpdater.exe; echo $?   # 2: no mode switch
#   ctest --test-dir build-windows        # the build runs its tests through wine
#
# Exports WINEPREFIX (a new temporary directory), WINEARCH, WINEDEBUG=-all,
# WINEDLLOVERRIDES (no Mono or Gecko installer, no menu builder) and
# WINEQT_FORCE_STDERR_LOGGING=1, removes DISPLAY and WAYLAND_DISPLAY so nothing waits for a
# window, initialises the prefix (wineboot -i) and makes it report
# Windows 10 (a new prefix reports Windows 7; Qt 6 is built for Windows 10). When the
# sourcing shell exits, the prefix's wineserver is stopped and the prefix removed, after
# whatever EXIT trap the shell already had (an EXIT trap set after sourcing replaces this one:
# call lu_wine_cleanup from it). To keep the prefix, name a directory in
# LAUNCHERUPDATER_WINEPREFIX before sourcing. Sourcing fails (non-zero) if Wine cannot start.
#
# Why WINEQT_FORCE_STDERR_LOGGING: a Windows Qt program without a console window (and under Wine
# started from a Unix shell there is none) sends its log lines, and QtTest its whole report, to
# OutputDebugString, so nothing reaches stdout or stderr. Wine drops QT_* variables from a Windows
# process's environment and passes WINEQT_* on as QT_*, so this is QT_FORCE_STDERR_LOGGING=1 for
# the program, which is what it would do in a console on Windows.

lu_wine_fail() {
    echo "wine-env-windows: $*" >&2
    return 1
}

lu_wine_setup() {
    local wine wineserver
    wine=$(command -v wine) || { lu_wine_fail "wine is not installed (Debian: wine wine64)"; return 1; }
    wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

    unset DISPLAY WAYLAND_DISPLAY
    export WINEDEBUG=-all
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEQT_FORCE_STDERR_LOGGING=1
    if [ -n "${LAUNCHERUPDATER_WINEPREFIX:-}" ]; then
        export WINEPREFIX=$LAUNCHERUPDATER_WINEPREFIX
        mkdir -p "$WINEPREFIX" || return 1
        LU_WINE_OWNS_PREFIX=0
    else
        export WINEPREFIX
        WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/launcherupdater-wine.XXXXXX") || return 1
        LU_WINE_OWNS_PREFIX=1
        # `trap -p EXIT` prints: trap -- 'COMMANDS' EXIT
        local previous_trap previous=''
        eval "previous_trap=($(trap -p EXIT))"
        [ ${#previous_trap[@]} -lt 3 ] || previous=${previous_trap[2]}
        # shellcheck disable=SC2064
        trap "${previous:+$previous; }lu_wine_cleanup" EXIT
    fi
    LU_WINESERVER=$wineserver
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1 \
            || { lu_wine_fail "wineboot -i failed in $WINEPREFIX"; return 1; }
        timeout 120 "$wine" winecfg -v win10 </dev/null >/dev/null 2>&1 \
            || { lu_wine_fail "winecfg -v win10 failed in $WINEPREFIX"; return 1; }
        timeout 120 "$wineserver" -w || true
    fi
}

lu_wine_cleanup() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    # -k only asks the server to end; it still saves the registry into the prefix as it goes.
    timeout 60 "${LU_WINESERVER:-wineserver}" -k >/dev/null 2>&1 || true
    timeout 60 "${LU_WINESERVER:-wineserver}" -w >/dev/null 2>&1 || true
    if [ "${LU_WINE_OWNS_PREFIX:-0}" = 1 ]; then
        # The wineserver's socket directory is named after the prefix's device and inode
        # (server-<dev>-<inode> in hex) inside a temporary directory of its own.
        local id='' dir device inode
        if read -r device inode < <(stat -c '%d %i' "$WINEPREFIX" 2>/dev/null); then
            id=$(printf 'server-%x-%x' "$device" "$inode")
        fi
        # A Wine process that was still starting when the server went (a launcher a test left
        # behind) starts a server of its own and writes into the prefix while it is removed,
        # so stop the servers and try again; a prefix that outlives that is only reported.
        local _
        for _ in 1 2 3 4 5; do
            rm -rf -- "$WINEPREFIX" 2>/dev/null && break
            timeout 60 "${LU_WINESERVER:-wineserver}" -k >/dev/null 2>&1 || true
            timeout 60 "${LU_WINESERVER:-wineserver}" -w >/dev/null 2>&1 || true
        done
        [ ! -e "$WINEPREFIX" ] || echo "wine-env-windows: could not remove $WINEPREFIX" >&2
        for dir in "${TMPDIR:-/tmp}"/wine-*/"$id" /tmp/wine-*/"$id" "/tmp/.wine-$(id -u)/$id"; do
            [ -n "$id" ] && [ -d "$dir" ] && [ -O "$dir" ] || continue
            rm -rf -- "$dir" 2>/dev/null || true
            rmdir -- "$(dirname "$dir")" 2>/dev/null || true
        done
    fi
    return 0
}

lu_wine_setup
