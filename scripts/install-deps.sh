#!/usr/bin/env bash
# Installs what building and testing LauncherUpdater needs on Debian 12, from Debian's archive.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libssl-dev openssl util-linux strace
    g++-mingw-w64-x86-64 wine64 wine clang libclang-rt-14-dev llvm)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
