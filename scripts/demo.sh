#!/usr/bin/env bash
# Installs what is needed, builds, and shows both jobs of LauncherUpdater end to end, published
# with launcher-publish under a key made for this run only: a game repair of a damaged
# installation, a signed launcher update 1.0 -> 2.0 that the new launcher acknowledges, and an
# unsigned update 2.0 -> 3.0 that an elevated run refuses and whose new launcher does not
# acknowledge, rolled back. Everything happens in a scratch directory that goes
# at the end; the key's private half never leaves it. Ends non-zero when anything behaves
# otherwise than shown.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build}
publish="$root/$build_dir/tools/publish/launcher-publish"
test_launcher="$root/$build_dir/tests/app/test_launcher"
updater="$root/build-demo/src/app/LauncherUpdater"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "demo: $*" >&2
    exit 1
}

# The command line as typed, shorter: paths in the checkout relative, the scratch directory as
# $scratch.
show() {
    local line="$*"
    line=${line//"$scratch"/\$scratch}
    echo "\$ ${line//"$root/"/}"
}

run() {
    show "$@"
    "$@"
}

# A build's output is kept out of the way, and shown only when the build fails (ninja prints
# compiler errors on stdout).
quietly() {
    show "$@"
    "$@" > "$scratch/build.log" 2>&1 || { cat "$scratch/build.log" >&2; fail "$1 failed"; }
}

# Runs the updater, prints its exit code and fails unless it is the expected one. Its failures
# are logged through Qt's message log, kept on stderr here so that they show in line.
run_updater() {
    local expected=$1
    shift
    show "$@"
    set +e
    QT_FORCE_STDERR_LOGGING=1 "$@" 2>&1
    status=$?
    set -e
    echo "exit code $status"
    [ "$status" -eq "$expected" ] || fail "the updater ended with $status, not $expected"
}

echo "== Installing what is needed and building"
scripts/install-deps.sh
quietly scripts/build.sh
echo "scratch directory: $scratch"

echo
echo "== A signing key made now, for this run only"
mkdir "$scratch/keys"
keys="$scratch/keys/trusted-keys.json"
run "$publish" keygen --key-id demo-1 --private-key "$scratch/keys/demo.pem" --trusted-keys "$keys"
stat -c '%A %n' "$scratch/keys/demo.pem" | sed "s|$scratch|\$scratch|"

echo
echo "== An updater that trusts it (a release build keeps config/trusted-keys.json)"
quietly cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLAUNCHERUPDATER_BUILD_TESTS=OFF -DTRUSTED_KEYS_FILE="$keys"
quietly cmake --build build-demo --target LauncherUpdater

echo
echo "== Game repair: a build, its signed manifest, a damaged installation"
game="$scratch/game-build"
installed="$scratch/game-installed"
mkdir -p "$game/bin" "$game/data/levels" "$game/config"
printf 'sample game executable\n' > "$game/bin/game.exe"
printf 'level one, block %05d\n' $(seq 4096) > "$game/data/levels/1.pak"
printf 'level two, block %05d\n' $(seq 8192) > "$game/data/levels/2.pak"
printf '[video]\nwidth=1920\nheight=1080\n' > "$game/config/default.ini"
run "$publish" manifest --build "$game" --manifest-id sample-game-7 --game-id sample-game \
    --channel stable --generation 7 --output "$scratch/manifest.json"
run "$publish" sign --payload "$scratch/manifest.json" --private-key "$scratch/keys/demo.pem" \
    --key-id demo-1 --output "$scratch/manifest.envelope.json"
run "$publish" verify --trusted-keys "$keys" "$scratch/manifest.envelope.json"
run cp -r "$game" "$installed"
# Same size, other bytes: only the digest tells.
run dd if=/dev/zero of="$installed/data/levels/1.pak" bs=16 seek=100 count=1 conv=notrunc status=none
run rm "$installed/config/default.ini"
run "$publish" stage-repair --installation "$installed" --build "$game" \
    --envelope "$scratch/manifest.envelope.json" --trusted-keys "$keys" --output "$scratch/staging"

echo
echo "== Game repair: the updater replaces the staged files as one transaction"
run_updater 0 "$updater" --apply-game-repair --plan "$scratch/staging/plan.json"
repair_status=$status
echo "result.json: $(cat "$scratch/staging/result.json")"
grep -q '"ok":true' "$scratch/staging/result.json" || fail "result.json does not say ok"
(cd "$scratch" && sha256sum game-build/data/levels/1.pak game-installed/data/levels/1.pak \
    game-build/config/default.ini game-installed/config/default.ini)
diff -r "$game" "$installed" > /dev/null || fail "the installation differs from the build"
echo "the installation is the build again, file for file; nothing else is left in it"

echo
echo "== Launcher update: versions 1.0, 2.0 and 3.0, 1.0 installed"
# A launcher directory: the test launcher as ClientLauncher.exe (it answers the updater's start
# as LAUNCHERUPDATER_TEST_LAUNCHER says), this updater as LauncherUpdater.exe, a version file.
make_launcher() {
    local dir="$scratch/launcher-$1"
    mkdir -p "$dir/plugins"
    cp "$test_launcher" "$dir/ClientLauncher.exe"
    cp "$updater" "$dir/LauncherUpdater.exe"
    echo "$1" > "$dir/version.txt"
}
make_launcher 1.0
echo "theme=dark" > "$scratch/launcher-1.0/settings.ini"
echo "legacy plugin 1.0" > "$scratch/launcher-1.0/plugins/legacy.dll"
# 2.0 changes the settings, adds a plugin and drops the legacy one.
make_launcher 2.0
echo "theme=light" > "$scratch/launcher-2.0/settings.ini"
echo "chat plugin 2.0" > "$scratch/launcher-2.0/plugins/chat.dll"
# 3.0 adds one more plugin.
make_launcher 3.0
cp "$scratch/launcher-2.0/settings.ini" "$scratch/launcher-3.0/settings.ini"
cp "$scratch/launcher-2.0/plugins/chat.dll" "$scratch/launcher-3.0/plugins/chat.dll"
echo "store plugin 3.0" > "$scratch/launcher-3.0/plugins/store.dll"
install="$scratch/launcher-installed"
run cp -r "$scratch/launcher-1.0" "$install"
# Signed: the release manifest of the whole of 2.0 goes beside the delta.
run "$publish" delta --from "$scratch/launcher-1.0" --to "$scratch/launcher-2.0" \
    --from-version 1.0 --version 2.0 --private-key "$scratch/keys/demo.pem" --key-id demo-1 \
    --output "$scratch/staged-2.0"
run "$publish" verify --trusted-keys "$keys" "$scratch/staged-2.0/launcher-release.envelope.json"

echo
echo "== Launcher update 1.0 -> 2.0, as the elevated copy: signed, and acknowledged"
# Stands in for the old launcher, which starts the updater and exits; the updater waits for it.
# --elevated marks the copy that runs with administrator rights, which installs only a signed
# release (here it only skips the write probe: the scratch directory is writable anyway).
show "sleep 1 &"
sleep 1 &
pid=$!
run_updater 0 env LAUNCHERUPDATER_TEST_LAUNCHER=exit "$updater" --apply-update \
    --install-root "$install" --staged-root "$scratch/staged-2.0" --version 2.0 \
    --ack "$scratch/ack-2.0" --parent-pid "$pid" \
    --delta-plan "$scratch/staged-2.0/launcher-update-plan.json" --from-version 1.0 --elevated
update_status=$status
[ -f "$scratch/ack-2.0" ] || fail "the new launcher did not acknowledge"
echo "the new launcher acknowledged its start in \$scratch/ack-2.0"
echo "installed version: $(cat "$install/version.txt")"
diff -r --exclude=.tavorin-update "$scratch/launcher-2.0" "$install" > /dev/null ||
    fail "the installation differs from launcher 2.0"
# The work directory and its journal go once the update has completed.
if compgen -G "$install/.tavorin-update/*" > /dev/null; then
    fail "the completed update left its work directory"
fi
echo "the installation is launcher 2.0, file for file; the update completed, so its work"
echo "directory .tavorin-update/<uuid>/ and journal are gone"

echo
echo "== Launcher update 2.0 -> 3.0, unsigned: refused when elevated; then the new launcher ends"
echo "   without acknowledging"
run "$publish" delta --from "$scratch/launcher-2.0" --to "$scratch/launcher-3.0" \
    --from-version 2.0 --version 3.0 --output "$scratch/staged-3.0"
# Unsigned, it is refused with administrator rights, and taken only by a run without them.
run_updater 6 "$updater" --apply-update --install-root "$install" \
    --staged-root "$scratch/staged-3.0" --version 3.0 --ack "$scratch/ack-3.0" --parent-pid "$pid" \
    --delta-plan "$scratch/staged-3.0/launcher-update-plan.json" --from-version 2.0 --elevated
show "sleep 1 &"
sleep 1 &
pid=$!
run_updater 6 env LAUNCHERUPDATER_TEST_LAUNCHER=no-ack "$updater" --apply-update \
    --install-root "$install" --staged-root "$scratch/staged-3.0" --version 3.0 \
    --ack "$scratch/ack-3.0" --parent-pid "$pid" \
    --delta-plan "$scratch/staged-3.0/launcher-update-plan.json" --from-version 2.0
journals=("$install"/.tavorin-update/*/journal.json)
if [ ${#journals[@]} -ne 1 ] || [ ! -f "${journals[0]}" ]; then
    fail "expected one journal of the rollback"
fi
phase=$(sed -n 's/.*"phase" *: *"\([^"]*\)".*/\1/p' "${journals[0]}")
echo "journal ${journals[0]#"$scratch/"}: phase \"$phase\""
echo "installed version: $(cat "$install/version.txt")"
[ "$phase" = rolled-back ] || fail "the journal says \"$phase\", not \"rolled-back\""
diff -r --exclude=.tavorin-update "$scratch/launcher-2.0" "$install" > /dev/null ||
    fail "the rollback did not restore launcher 2.0"
echo "every file is back as launcher 2.0 had it; the work directory stays for the record"

echo
echo "Demo done: repair exit $repair_status (2 files restored), signed update 1.0 -> 2.0 exit" \
    "$update_status, unsigned update 2.0 -> 3.0 refused elevated (exit 6), unacknowledged and" \
    "rolled back (exit 6)."
