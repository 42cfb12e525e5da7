#!/usr/bin/env bash
# Builds everything and runs every test (unit, gui, x11, fuzz, wine, package).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
# The Wine test of the desktop program needs Qt and OpenCV built for Windows, which takes an hour once; that is
# not done here.
sdk=${QUILLET_WINDOWS_SDK:-$HOME/.cache/quillet-windows-sdk}
if [ ! -f "$sdk/stamp" ]; then
    echo "note: the Windows SDK is not built in $sdk, so the test of quillet.exe under Wine (wine_app) is skipped."
    echo "      Build the SDK once (about an hour on two cores), then run the tests again:"
    echo "          nice -n 19 $root/scripts/windows-sdk.sh"
fi
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
