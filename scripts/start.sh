#!/usr/bin/env bash
# Builds Quillet and starts it. Until the desktop application lands this shows the bundled example library
# through quillet-cli.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
cd "$root/examples"
exec "$build/src/cli/quillet-cli" dump demo.m
