#!/usr/bin/env bash
# Installs every Debian package Quillet needs to build, run and test. Idempotent: apt-get runs only when a
# package is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libopencv-dev
    libx11-dev libxtst-dev libxi-dev libxext-dev libxrandr-dev libdbus-1-dev xvfb dbus-daemon xdotool x11-utils xterm
    imagemagick
    qt6-base-dev fonts-nanum
    g++-mingw-w64-x86-64-posix wine wine64
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# With recommends, as on the machines this was verified on (Wine and Xvfb need some of them).
$SUDO apt-get install -y -qq "${missing[@]}"
