#!/usr/bin/env bash
# Cross-builds Quillet for 64-bit Windows with mingw-w64 (model, engine, input and recorder layers, the Windows
# backend, quillet-cli and the backend check program; with the Windows SDK of scripts/windows-sdk.sh also the
# desktop program) and runs the Windows programs under Wine with tests/win32/run-wine.sh. The CTest
# wine_cross_check calls it with the Linux build's programs.
#
#   scripts/cross-check.sh [--build-dir DIR] [--linux-cli PATH] [--fixture-tool PATH]
#   scripts/cross-check.sh --app [--build-dir DIR] [--fixture-tool PATH]
#
# --app (the CTest wine_app) makes the portable zip instead and runs the desktop program from it under Wine with
# tests/win32/run-wine-app.sh; without the SDK it says how to build it and exits with 77 (skipped).
# Without arguments it uses the Linux build in $QUILLET_BUILD_DIR (default build/), building what it needs there,
# and cross-builds into its tests/win32/cross. The SDK is taken from $QUILLET_WINDOWS_SDK (default
# ~/.cache/quillet-windows-sdk) once it is complete. Exit code 77 when mingw-w64, Wine or Xvfb is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=${QUILLET_BUILD_DIR:-$root/build}
sdk=${QUILLET_WINDOWS_SDK:-$HOME/.cache/quillet-windows-sdk}
cross="" linux_cli="" fixture_tool="" app=0
while [ $# -gt 0 ]; do
    case "$1" in
    --app) app=1; shift ;;
    --build-dir) cross=$2; shift 2 ;;
    --linux-cli) linux_cli=$2; shift 2 ;;
    --fixture-tool) fixture_tool=$2; shift 2 ;;
    *) echo "cross-check.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
cross=$(realpath -m "${cross:-$linux_build/tests/win32/cross}")
sdk_args=()
if [ -f "$sdk/stamp" ]; then
    sdk_args=(-DQUILLET_WINDOWS_SDK="$sdk")
elif [ $app -eq 1 ]; then
    echo "cross-check.sh: the Windows SDK (Qt and OpenCV for mingw-w64) is not built in $sdk, so quillet.exe" \
        "cannot be built and its Wine test is skipped. Build the SDK once (about an hour on two cores) with:" >&2
    echo "    nice -n 19 $root/scripts/windows-sdk.sh" >&2
    exit 77
fi
if [ -z "$fixture_tool" ] || { [ $app -eq 0 ] && [ -z "$linux_cli" ]; }; then
    cmake --build "$linux_build" --target quillet-cli win32_fixture_library
    linux_cli=${linux_cli:-$linux_build/src/cli/quillet-cli}
    fixture_tool=${fixture_tool:-$linux_build/tests/win32/win32_fixture_library}
fi

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
    echo "cross-check.sh: mingw-w64 (g++-mingw-w64-x86-64-posix) is not installed; skipped" >&2
    exit 77
fi

gen=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$cross/Makefile" ]; then gen=(-G Ninja); fi
echo "== cross build in $cross${sdk_args[*]:+ with the Windows SDK in $sdk}"
started=$(date +%s)
if ! cmake -S "$root" -B "$cross" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF -DQUILLET_BUILD_BENCH=OFF -DQUILLET_BUILD_FUZZ=OFF \
    "${sdk_args[@]}" >"$cross.configure.log" 2>&1; then
    cat "$cross.configure.log" >&2
    exit 1
fi
cmake --build "$cross" -j"$(nproc)"
echo "   built in $(($(date +%s) - started)) s"

if [ $app -eq 1 ]; then
    if [ ! -f "$cross/src/app/quillet.exe" ]; then
        echo "cross-check.sh: quillet.exe was not built although the SDK is in $sdk; see $cross.configure.log" >&2
        exit 1
    fi
    echo "== portable zip"
    rm -rf "$cross/package"
    (cd "$cross" && cpack -G ZIP -B "$cross/package" >"$cross/package.log" 2>&1) || {
        cat "$cross/package.log" >&2
        exit 1
    }
    zip=$(ls "$cross"/package/quillet-*-windows-x64.zip)
    echo "   $(basename "$zip"): $(($(stat -c %s "$zip") / 1024)) KiB"
    exec "$root/tests/win32/run-wine-app.sh" --zip "$zip" --text-target "$cross/tests/win32/win32_text_target.exe" \
        --fixture-tool "$fixture_tool"
fi

exec "$root/tests/win32/run-wine.sh" --cross-dir "$cross" --linux-cli "$linux_cli" --fixture-tool "$fixture_tool"
