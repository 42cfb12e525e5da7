#!/usr/bin/env bash
# Cross-builds Quillet for 64-bit Windows with mingw-w64 (model, engine, input and recorder layers, the Windows
# backend, quillet-cli and the backend check program) and runs the Windows programs under Wine with
# tests/win32/run-wine.sh. The CTest wine_cross_check calls it with the Linux build's programs.
#
#   scripts/cross-check.sh [--build-dir DIR] [--linux-cli PATH] [--fixture-tool PATH]
#
# Without arguments it uses the Linux build in $QUILLET_BUILD_DIR (default build/), building what it needs there,
# and cross-builds into its tests/win32/cross. Exit code 77 when mingw-w64, Wine or Xvfb is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_build=${QUILLET_BUILD_DIR:-$root/build}
cross="" linux_cli="" fixture_tool=""
while [ $# -gt 0 ]; do
    case "$1" in
    --build-dir) cross=$2; shift 2 ;;
    --linux-cli) linux_cli=$2; shift 2 ;;
    --fixture-tool) fixture_tool=$2; shift 2 ;;
    *) echo "cross-check.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
cross=${cross:-$linux_build/tests/win32/cross}
if [ -z "$linux_cli" ] || [ -z "$fixture_tool" ]; then
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
echo "== cross build in $cross"
started=$(date +%s)
if ! cmake -S "$root" -B "$cross" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF -DQUILLET_BUILD_BENCH=OFF -DQUILLET_BUILD_FUZZ=OFF \
    >"$cross.configure.log" 2>&1; then
    cat "$cross.configure.log" >&2
    exit 1
fi
cmake --build "$cross" -j"$(nproc)"
echo "   built in $(($(date +%s) - started)) s"

exec "$root/tests/win32/run-wine.sh" --cross-dir "$cross" --linux-cli "$linux_cli" --fixture-tool "$fixture_tool"
