#!/usr/bin/env bash
# Installs what is needed, builds, and runs LauncherUpdater on the bundled example in a scratch
# copy: a game repair of examples/game-repair, the same with a tampered staged file, then a few
# command lines it must refuse. The example's manifest is signed with the test key (its private
# half is public, in tests/support), so the demo runs the build that trusts that key.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh > /dev/null
updater="$PWD/${BUILD_DIR:-build}/tests/support/testkeys/LauncherUpdater"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r examples/game-repair/. "$scratch/"
sed "s|@INSTALL@|$scratch/install|" "$scratch/staging/plan.json.in" > "$scratch/staging/plan.json"

run() {
    echo "\$ LauncherUpdater $*"
    set +e
    QT_FORCE_STDERR_LOGGING=1 "$updater" "$@" 2>&1
    echo "exit code $?"
    set -e
}

echo "before: install/bin/game.dat holds: $(cat "$scratch/install/bin/game.dat")"
run --apply-game-repair --plan "$scratch/staging/plan.json"
echo "result.json: $(cat "$scratch/staging/result.json")"
echo "after:  install/bin/game.dat holds: $(cat "$scratch/install/bin/game.dat")"
echo
echo "# the staged file tampered with: refused, nothing touched"
cp examples/game-repair/install/bin/game.dat "$scratch/install/bin/game.dat"
echo "repaired game binarY" > "$scratch/staging/files/bin/game.dat"
run --apply-game-repair --plan "$scratch/staging/plan.json"
echo "result.json: $(cat "$scratch/staging/result.json")"
echo "install/bin/game.dat holds: $(cat "$scratch/install/bin/game.dat")"
echo
run
run --apply-game-repair --plan
run --apply-update --install-root "$scratch/install" --staged-root "$scratch/staged" \
    --version 2.0.0 --ack "$scratch/ack" --parent-pid 12abc
