#!/usr/bin/env bash
# Installs the Debian packages Quillet needs. Idempotent: apt-get runs only when a package is missing.
#
#   scripts/install-deps.sh [GROUP...]     without a group: all of them (what scripts/test.sh and CI use)
#
# Groups:
#   run          building and running quillet and quillet-cli: compiler, CMake, Qt 6 with its Korean texts,
#                OpenCV, libpng and libjpeg-turbo (the picture reader), the JSON library of the macro text form,
#                the X libraries, Xvfb (for machines without a display), a font with Hangul
#   test         the tests: GoogleTest, a D-Bus daemon for the input-method test, xdotool; the accessibility bus
#                (at-spi2-core) and its Python client (python3-pyatspi) that drive the program's windows as a person
#                does; the locale sources (locales), from which the tests make a decimal-comma locale; a window
#                manager (openbox) for the tests that click controls as a person does on a desktop
#   bench        Google Benchmark, for bench/
#   fuzz         clang with libFuzzer, for fuzz/
#   cross        mingw-w64 and Wine: the Windows cross build and its check; zlib for mingw-w64 and Debian's source
#                tools for scripts/windows-sdk.sh; the JSON library's headers, which the cross build uses too
#   package      the .deb's dependencies (dpkg-shlibdeps) and the checks of its desktop entry and AppStream data
#   screenshots  ImageMagick and xdotool, for scripts/screenshots.sh
set -euo pipefail

group_packages() {
    case "$1" in
    run)
        echo build-essential cmake ninja-build pkg-config \
            qt6-base-dev qt6-translations-l10n fonts-nanum \
            libopencv-dev libpng-dev libjpeg62-turbo-dev nlohmann-json3-dev \
            libx11-dev libxtst-dev libxi-dev libxext-dev libxrandr-dev libxdamage-dev libxfixes-dev libdbus-1-dev xvfb x11-utils
        ;;
    test) echo libgtest-dev libgmock-dev googletest dbus-daemon xdotool xterm at-spi2-core python3-pyatspi locales openbox ;;
    bench) echo libbenchmark-dev ;;
    fuzz) echo clang libclang-rt-14-dev ;;
    cross) echo g++-mingw-w64-x86-64-posix wine wine64 libz-mingw-w64-dev dpkg-dev nlohmann-json3-dev ;;
    package) echo dpkg-dev desktop-file-utils appstream ;;
    screenshots) echo imagemagick xdotool ;;
    *) return 1 ;;
    esac
}

groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then groups=(run test bench fuzz cross package screenshots); fi
packages=()
for g in "${groups[@]}"; do
    if ! list=$(group_packages "$g"); then
        echo "install-deps.sh: unknown group '$g' (groups: run test bench fuzz cross package screenshots)" >&2
        exit 2
    fi
    read -r -a more <<<"$list"
    packages+=("${more[@]}")
done

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
