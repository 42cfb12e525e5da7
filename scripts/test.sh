#!/usr/bin/env bash
# Builds everything and runs every test (unit, gui, x11, fuzz, wine, package), then the same tree built with
# ThreadSanitizer (unit, x11) and with AddressSanitizer and UndefinedBehaviorSanitizer (all but wine and package),
# each in a build folder of its own (scripts/sanitize.sh). Every stage runs; the command fails when any stage fails.
# Arguments go to every ctest run.
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

failed=()
stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "=== $name"
    if "$@"; then
        echo "=== $name: passed in $((SECONDS - start)) s"
    else
        echo "=== $name: FAILED after $((SECONDS - start)) s"
        failed+=("$name")
    fi
}
stage "tests" bash -c 'cd "$1" && shift && ctest --output-on-failure -j"$(nproc)" "$@"' _ "$build" "$@"
stage "ThreadSanitizer" "$root/scripts/sanitize.sh" thread "$@"
stage "AddressSanitizer and UndefinedBehaviorSanitizer" "$root/scripts/sanitize.sh" address "$@"
if [ ${#failed[@]} -gt 0 ]; then
    printf 'failed: %s\n' "${failed[@]}"
    exit 1
fi
