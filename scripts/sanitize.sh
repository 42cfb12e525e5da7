#!/usr/bin/env bash
# Builds the tree with sanitizers in a build folder of its own (reused from run to run) and runs the tests there:
#   scripts/sanitize.sh thread       ThreadSanitizer: the unit and X11 suites, the end-to-end tests of quillet-cli
#                                    (no desktop program: Qt is not built with the sanitizer and only adds noise)
#   scripts/sanitize.sh address      AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer: every suite
#                                    but the Wine and package ones
# Every report of every process the tests start (the programs, quillet-guardian) goes to a log file; any report
# fails the run, also one from a process whose own exit status nobody looks at. Extra arguments go to ctest.
# The packages come from scripts/install-deps.sh (scripts/test.sh runs it first).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-}
shift || true
base=${QUILLET_BUILD_DIR:-$root/build}
supp=$root/scripts/sanitizers
case "$kind" in
    thread)
        build=$base-tsan
        flags=(-DQUILLET_SANITIZERS=thread -DQUILLET_BUILD_GUI=OFF)
        labels=(-L 'unit|x11')
        ;;
    address)
        build=$base-asan
        flags=(-DQUILLET_SANITIZERS=address,undefined -DQUILLET_BUILD_GUI=ON)
        labels=(-LE 'wine|package')
        ;;
    *)
        echo "usage: scripts/sanitize.sh thread|address [ctest arguments]" >&2
        exit 2
        ;;
esac

gen=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/Makefile" ]; then gen=(-G Ninja); fi
# Debug: the quickest to build, and the sanitizers' reports name every frame.
cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=Debug -DQUILLET_BUILD_TESTS=ON -DQUILLET_BUILD_BENCH=OFF \
    -DQUILLET_BUILD_FUZZ=OFF "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

logs=$build/sanitizer-reports
rm -rf "$logs"
mkdir -p "$logs"
# Libraries not built with ThreadSanitizer (Qt's core, xcb, GLib, D-Bus, OpenCV and what it loads) do their own
# locking out of its sight: their reports are noise, so it does not look inside them. The suppression files name
# third-party libraries only.
export TSAN_OPTIONS="ignore_noninstrumented_modules=1 suppressions=$supp/tsan.supp second_deadlock_stack=1 \
history_size=4 log_path=$logs/tsan"
export ASAN_OPTIONS="detect_leaks=1 detect_stack_use_after_return=1 check_initialization_order=1 \
log_path=$logs/asan"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 log_path=$logs/ubsan"

status=0
(cd "$build" && ctest --output-on-failure -j"$(nproc)" "${labels[@]}" "$@") || status=$?
if compgen -G "$logs/*" >/dev/null; then
    echo "sanitizer reports ($kind):"
    for f in "$logs"/*; do
        echo "--- $f"
        cat "$f"
    done
    status=1
fi
exit "$status"
