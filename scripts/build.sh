#!/usr/bin/env bash
# Configures and builds Quillet into build/ (or $QUILLET_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
gen=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/Makefile" ]; then gen=(-G Ninja); fi
cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
