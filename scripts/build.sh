#!/usr/bin/env bash
# Configures and builds everything, tests included, into build/ (or $QUILLET_BUILD_DIR), after installing every
# package (scripts/test.sh uses it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
gen=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/Makefile" ]; then gen=(-G Ninja); fi
# Tests on also where start.sh configured the folder first (without them).
cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
