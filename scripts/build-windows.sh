#!/usr/bin/env bash
# Cross-builds LauncherUpdater.exe and its Windows test executables on Debian with mingw-w64.
#
#   scripts/build-windows.sh [--test] [BUILD_DIR] [-- CMAKE_ARGS...]
#
# 1. Installs the Debian packages it needs (as root; otherwise it only checks for them).
# 2. Builds Windows static libraries of Qt Core + Test and of OpenSSL's libcrypto from Debian's
#    own source packages, the same versions as the Linux build, and keeps them in a cache outside
#    the source tree, one directory per source version and build recipe:
#      ${LAUNCHERUPDATER_WINDEPS_CACHE:-/var/cache/launcherupdater-windeps}/
#        qt6-base-<version>-<recipe>/      Qt prefix (lib/cmake/Qt6, ...)
#        openssl-<version>-<recipe>/       OpenSSL prefix (include/, lib/libcrypto.a)
#    A finished directory holds a stamp file; a rerun with the same versions reuses it at once.
# 3. Configures and builds this project in BUILD_DIR (default: build-windows in the source tree)
#    and prints the path of LauncherUpdater.exe, which is always BUILD_DIR/src/app/LauncherUpdater.exe.
#    The build directory runs its tests through Wine (CMAKE_CROSSCOMPILING_EMULATOR), so
#    `ctest --test-dir BUILD_DIR` works inside the environment of scripts/wine-env-windows.sh.
#    With --test, the script does that itself. CMAKE_ARGS go to the configure step of this project
#    (e.g. -DTRUSTED_KEYS_FILE=...).
#
# Environment:
#   LAUNCHERUPDATER_WINDEPS_CACHE   cache root (default /var/cache/launcherupdater-windeps)
#   LAUNCHERUPDATER_WINDOWS_BUILD_TYPE   CMake build type of this project (default Release)
#   LAUNCHERUPDATER_JOBS            parallel jobs (default: number of cores)
#   LAUNCHERUPDATER_SKIP_APT=1      never call apt-get (everything must already be installed)
set -euo pipefail

usage() {
    sed -n '2,/^set -euo/p' "$0" | sed -e '/^set -euo/d' -e 's/^# \{0,1\}//'
}

run_tests=0
build_dir=
cmake_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --test) run_tests=1 ;;
        --) shift; cmake_args=("$@"); break ;;
        -h | --help) usage; exit 0 ;;
        -*) echo "build-windows: unknown option $1" >&2; usage >&2; exit 2 ;;
        *)
            if [ -n "$build_dir" ]; then
                echo "build-windows: only one build directory, please" >&2
                exit 2
            fi
            build_dir=$1
            ;;
    esac
    shift
done

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${build_dir:-$source_dir/build-windows}
case "$build_dir" in /*) ;; *) build_dir=$PWD/$build_dir ;; esac
cache_root=${LAUNCHERUPDATER_WINDEPS_CACHE:-/var/cache/launcherupdater-windeps}
jobs=${LAUNCHERUPDATER_JOBS:-$(nproc)}
build_type=${LAUNCHERUPDATER_WINDOWS_BUILD_TYPE:-Release}
toolchain=$source_dir/cmake/toolchains/mingw-w64-x86_64.cmake
target=x86_64-w64-mingw32
qt_host_path=/usr
qt_host_cmake_dir=  # /usr/lib/<multiarch>/cmake, once dpkg-dev is there to tell

# The host's search paths for its own compiler mean nothing to the Windows one.
unset LIBRARY_PATH CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH

log() { printf '==> %s\n' "$*" >&2; }
die() { printf 'build-windows: %s\n' "$*" >&2; exit 1; }
now() { date +%s; }
started=$(now)

# --- 1. Packages -------------------------------------------------------------------------------

packages=(
    build-essential cmake ninja-build perl make dpkg-dev xz-utils python3
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev
    qt6-base-dev qt6-base-dev-tools
    wine wine64
)

apt_ok() { [ "$(id -u)" = 0 ] && [ "${LAUNCHERUPDATER_SKIP_APT:-0}" != 1 ]; }

export DEBIAN_FRONTEND=noninteractive
# As root, apt's downloads would otherwise drop to user _apt, who may not write to the cache.
apt_get() {
    apt-get -q -o Dpkg::Use-Pty=0 -o APT::Sandbox::User=root -o DPkg::Lock::Timeout=600 "$@"
}

ensure_packages() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    apt_ok || die "missing packages (install them as root): ${missing[*]}"
    log "installing ${missing[*]}"
    apt_get update || apt_get update
    apt_get install -y --no-install-recommends "${missing[@]}"
}

# --- 2. Debian source packages ----------------------------------------------------------------

# Our deb-src entries, if we had to add them: NAME.sources (deb822) and/or NAME.list.
own_src=/etc/apt/sources.list.d/launcherupdater-deb-src

# Does any configured source (other than ours) offer deb-src?
have_deb_src() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "${f%.*}" != "$own_src" ] || continue
        grep -qE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' "$f" && return 0
    done
    return 1
}

# The machine's own "deb" entries for this release, turned into "deb-src" entries.
derive_deb_src() {
    local codename f
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || die "cannot tell the release code name from /etc/os-release"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "${f%.*}" != "$own_src" ] || continue
        awk -v codename="$codename" '
            function flush(  i) {
                if (n > 0 && isdeb && release && enabled) {
                    for (i = 1; i <= n; i++) print lines[i]
                    print ""
                }
                n = 0; isdeb = 0; release = 0; enabled = 1
            }
            BEGIN { n = 0; isdeb = 0; release = 0; enabled = 1 }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            {
                line = $0; low = tolower(line)
                if (low ~ /^types:/) {
                    k = split(substr(line, 7), t, /[ \t]+/)
                    for (i = 1; i <= k; i++) if (t[i] == "deb") isdeb = 1
                    line = "Types: deb-src"
                } else if (low ~ /^suites:/) {
                    k = split(substr(line, 8), s, /[ \t]+/)
                    for (i = 1; i <= k; i++)
                        if (s[i] == codename || index(s[i], codename "-") == 1) release = 1
                } else if (low ~ /^enabled:[ \t]*no/) {
                    enabled = 0
                }
                lines[++n] = line
            }
            END { flush() }' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && [ "${f%.*}" != "$own_src" ] || continue
        # deb [options] URI SUITE COMPONENTS...
        awk -v codename="$codename" '
            $1 == "deb" {
                i = 2
                if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
                suite = $(i + 1)
                if (suite == codename || index(suite, codename "-") == 1) {
                    sub(/^[ \t]*deb/, "deb-src"); print
                }
            }' "$f"
    done
}

source_lists_ok() { apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package:'; }

# Makes `apt-get source` work: with the machine's own deb-src entries if it has any, else with
# entries derived from its deb entries.
ensure_deb_src() {
    source_lists_ok && return 0
    if ! apt_ok; then
        log "apt knows no source packages (no deb-src entry); only cached builds can be used"
        return 0
    fi
    if have_deb_src || [ -f "$own_src.sources" ] || [ -f "$own_src.list" ]; then
        apt_get update || apt_get update
        source_lists_ok && return 0
    fi
    if [ ! -f "$own_src.sources" ] && [ ! -f "$own_src.list" ]; then
        local entries
        entries=$(derive_deb_src)
        [ -n "$entries" ] || die "found no deb entry for this release to derive a deb-src entry from"
        if grep -q '^Types:' <<<"$entries"; then
            printf '%s\n' "$entries" | grep -v '^deb-src' >"$own_src.sources"
        fi
        if grep -q '^deb-src' <<<"$entries"; then
            printf '%s\n' "$entries" | grep '^deb-src' >"$own_src.list"
        fi
        log "added deb-src entries: $(echo "$own_src".*)"
        apt_get update || apt_get update
    fi
    source_lists_ok || die "apt-get update brought no source package lists"
}

# PACKAGE's source versions that apt knows, newest first.
source_versions() {
    local sorted=() v i j
    for v in $(apt-cache showsrc --only-source "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -u); do
        sorted+=("$v")
        for ((i = ${#sorted[@]} - 1; i > 0; i--)); do
            j=$((i - 1))
            dpkg --compare-versions "${sorted[i]}" gt "${sorted[j]}" || break
            v=${sorted[i]}; sorted[i]=${sorted[j]}; sorted[j]=$v
        done
    done
    printf '%s\n' "${sorted[@]}"
}

# Downloads PACKAGE=VERSION's source package into the cache (files already there are kept, so a
# retry fetches only what is missing); prints the .dsc path. apt's messages go to DIR/apt.log.
download_source() {
    local package=$1 version=$2 dir=$cache_root/downloads/$1
    mkdir -p "$dir"
    if ! (cd "$dir" && apt_get source --only-source --download-only "$package=$version") \
        >"$dir/apt.log" 2>&1; then
        return 1
    fi
    echo "$dir/${package}_${version#*:}.dsc"
}

# Picks the newest source version of PACKAGE (whose upstream part is $3, if given) that is either
# built in the cache already or can be downloaded. Sets pick_version, pick_prefix and pick_dsc
# (empty when cached). A version whose files the archive does not serve is passed over.
pick_source() {
    local package=$1 recipe_hash=$2 upstream=${3:-} v
    pick_version='' pick_prefix='' pick_dsc=''
    for v in $(source_versions "$package"); do
        if [ -n "$upstream" ]; then
            local u=${v#*:}
            [ "${u%%[-+]*}" = "$upstream" ] || continue
        fi
        pick_version=$v
        pick_prefix=$cache_root/$package-${v//:/_}-$recipe_hash
        [ -f "$pick_prefix/.complete" ] && return 0
        if pick_dsc=$(download_source "$package" "$v"); then
            return 0
        fi
        log "the source of $package $v cannot be downloaded; trying an older version"
        sed -n 's/^E: /   /p' "$cache_root/downloads/$package/apt.log" >&2
    done
    # Nothing to download (no source lists, or the archive out of reach): the newest finished
    # build in the cache, if there is one.
    local stamp newest=''
    for stamp in "$cache_root/$package-"*"-$recipe_hash/.complete"; do
        [ -f "$stamp" ] || continue
        v=$(dirname "$stamp")
        v=${v#"$cache_root/$package-"}
        v=${v%"-$recipe_hash"}
        if [ -z "$upstream" ] || [ "${v%%[-+]*}" = "$upstream" ]; then
            if [ -z "$newest" ] || [ "$stamp" -nt "$newest" ]; then
                newest=$stamp pick_version=$v
            fi
        fi
    done
    if [ -n "$newest" ]; then
        log "using the cached build of $package $pick_version"
        pick_prefix=$(dirname "$newest")
        return 0
    fi
    die "no version of the source package $package${upstream:+ $upstream} could be downloaded"
}

# --- 3. Windows libraries ------------------------------------------------------------------------

compiler_id() {
    "$target-g++-posix" -dumpfullversion
    "$target-ld" --version | head -n 1
    dpkg-query -W -f='${Version}\n' mingw-w64-x86-64-dev
}

openssl_recipe() {
    echo "openssl recipe 1"
    echo "./Configure mingw64 no-shared no-tests --libdir=lib --cross-compile-prefix=$target- CC=gcc-posix"
    compiler_id
}

qt_recipe() {
    echo "qtbase recipe 1"
    declare -p qt_options
    grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' "$toolchain"
    compiler_id
    dpkg-query -W -f='${Version}\n' qt6-base-dev
}

qt_options=(
    -DBUILD_SHARED_LIBS=OFF
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DQT_BUILD_MANUAL_TESTS=OFF
    -DFEATURE_gui=OFF
    -DFEATURE_widgets=OFF
    -DFEATURE_network=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_opengl=OFF
    -DFEATURE_icu=OFF
    -DFEATURE_glib=OFF
    -DFEATURE_zstd=OFF
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_testlib=ON
)

short_hash() { sha256sum | cut -c1-10; }

# Unpacks the downloaded source $1 into a fresh work directory $2; prints the tree's path.
unpack_source() {
    rm -rf "$2"
    mkdir -p "$2"
    dpkg-source -x "$1" "$2/src" >"$2/unpack.log" 2>&1 \
        || { cat "$2/unpack.log" >&2; die "dpkg-source could not unpack $1"; }
    echo "$2/src"
}

# Runs "$@" with its output in LOG; on failure shows the end of it and stops.
logged() {
    local log_file=$1 what=$2
    shift 2
    "$@" >"$log_file" 2>&1 || {
        tail -n 80 "$log_file" >&2
        die "$what failed; the whole log is $log_file"
    }
}

build_openssl() (
    cd "$1" &&
        unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS AR RANLIB RC &&
        ./Configure mingw64 no-shared no-tests --libdir=lib \
            --cross-compile-prefix="$target-" CC=gcc-posix \
            --prefix="$2" --openssldir="$2/ssl" &&
        make -j"$jobs" build_libs &&
        make install_dev
)

build_qt() (
    unset CC CXX CFLAGS CXXFLAGS CPPFLAGS LDFLAGS &&
        cmake -S "$1" -B "$3/build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DCMAKE_INSTALL_PREFIX="$2" \
            -DQT_HOST_PATH="$qt_host_path" \
            -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake_dir" \
            "${qt_options[@]}" &&
        cmake --build "$3/build" --parallel "$jobs" &&
        cmake --install "$3/build"
)

# Removes the downloaded files of the source package $1 (a .dsc and the files it names).
forget_download() {
    local dir
    dir=$(dirname "$1")
    awk '/^Files:/ { f = 1; next } /^[^ ]/ { f = 0 } f && NF == 3 { print $3 }' "$1" \
        | while read -r name; do rm -f "$dir/$name"; done
    rm -f "$1"
}

# Builds the picked source of WHAT into PREFIX: unpacks it into PREFIX.work, runs
# BUILD_FUNCTION SOURCE PREFIX WORK, checks that each FILE (relative to PREFIX) was installed,
# then marks PREFIX finished with the output of RECIPE_FUNCTION and drops the work tree.
#   build_cached WHAT PREFIX RECIPE_FUNCTION BUILD_FUNCTION FILE...
build_cached() {
    local what=$1 prefix=$2 recipe=$3 build=$4
    shift 4
    local t0 work src file
    t0=$(now)
    log "building $what $pick_version for Windows into $prefix"
    work=$prefix.work
    rm -rf "$prefix"
    src=$(unpack_source "$pick_dsc" "$work")
    logged "$work/build.log" "the $what build" "$build" "$src" "$prefix" "$work"
    for file in "$@"; do
        [ -f "$prefix/$file" ] || die "$what installed no $file"
    done
    "$recipe" >"$prefix/.complete"
    rm -rf "$work"
    forget_download "$pick_dsc"
    log "$what built in $(($(now) - t0)) s"
}

# Sets openssl_prefix, building OpenSSL there unless a finished build is already cached.
ensure_openssl() {
    pick_source openssl "$(openssl_recipe | short_hash)"
    openssl_prefix=$pick_prefix
    if [ -z "$pick_dsc" ]; then
        log "OpenSSL $pick_version for Windows: cached in $openssl_prefix"
        return 0
    fi
    build_cached OpenSSL "$openssl_prefix" openssl_recipe build_openssl lib/libcrypto.a
}

# Sets qt_prefix, building qtbase there unless a finished build is already cached. The version
# must be the one of the host tools (moc, rcc) that qt6-base-dev installs.
ensure_qt() {
    local host_version
    host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    host_version=${host_version#*:}
    pick_source qt6-base "$(qt_recipe | short_hash)" "${host_version%%[-+]*}"
    qt_prefix=$pick_prefix
    if [ -z "$pick_dsc" ]; then
        log "Qt $pick_version for Windows: cached in $qt_prefix"
        return 0
    fi
    build_cached Qt "$qt_prefix" qt_recipe build_qt \
        lib/cmake/Qt6Core/Qt6CoreConfig.cmake lib/cmake/Qt6Test/Qt6TestConfig.cmake
}

# --- 4. This project ------------------------------------------------------------------------------

build_project() {
    local wine
    wine=$(command -v wine) || die "wine is not installed"
    log "configuring $build_dir"
    cmake -S "$source_dir" -B "$build_dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE="$build_type" \
        -DCMAKE_PREFIX_PATH="$qt_prefix" \
        -DQT_HOST_PATH="$qt_host_path" \
        -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake_dir" \
        -DOPENSSL_ROOT_DIR="$openssl_prefix" \
        -DOPENSSL_USE_STATIC_LIBS=ON \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" \
        "${cmake_args[@]}"
    log "building $build_dir"
    cmake --build "$build_dir" --parallel "$jobs"
}

main() {
    ensure_packages
    command -v "$target-g++-posix" >/dev/null || die "$target-g++-posix is not installed"
    qt_host_cmake_dir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake
    ensure_deb_src
    mkdir -p "$cache_root"
    exec 9>"$cache_root/.lock"
    flock 9
    local t0
    t0=$(now)
    ensure_openssl
    ensure_qt
    flock -u 9
    log "Windows libraries ready in $(($(now) - t0)) s"
    build_project
    local exe=$build_dir/src/app/LauncherUpdater.exe
    [ -f "$exe" ] || die "the build left no $exe"
    [ -f "$build_dir/tools/publish/launcher-publish.exe" ] ||
        die "the build left no launcher-publish.exe"
    if [ "$run_tests" = 1 ]; then
        # shellcheck source=wine-env-windows.sh
        . "$source_dir/scripts/wine-env-windows.sh"
        ctest --test-dir "$build_dir" --output-on-failure --timeout 600 -j "$jobs"
    fi
    log "done in $(($(now) - started)) s"
    echo "$exe"
}

main
