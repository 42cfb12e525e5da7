#!/usr/bin/env bash
# Runs the desktop program for Windows under Wine on a private Xvfb, from its portable zip unpacked on a new Wine
# prefix: quillet.exe starts in run mode with a library and a settings file, a key pressed on the X server (F7, as a
# person's) starts a macro that types a line into another Windows program's window, which must receive exactly that
# text; then another program's WM_CLOSE ends quillet.exe, which must exit with 0 and leave Quillet.ini with all 24
# settings, the changed ones kept.
#
#   run-wine-app.sh --zip FILE --text-target PATH --fixture-tool PATH
#
# Exit code 0 when everything held, 1 otherwise, 77 when Wine, Xvfb or xdotool is missing.
set -euo pipefail

zip="" target="" fixture_tool=""
while [ $# -gt 0 ]; do
    case "$1" in
    --zip) zip=$2; shift 2 ;;
    --text-target) target=$2; shift 2 ;;
    --fixture-tool) fixture_tool=$2; shift 2 ;;
    *) echo "run-wine-app.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
for v in zip target fixture_tool; do
    [ -n "${!v}" ] || { echo "usage: run-wine-app.sh --zip FILE --text-target PATH --fixture-tool PATH" >&2; exit 2; }
    printf -v "$v" '%s' "$(realpath -m "${!v}")"
    [ -f "${!v}" ] || { echo "run-wine-app.sh: missing ${!v}" >&2; exit 2; }
done

wine=""
for w in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$w" >/dev/null 2>&1; then wine=$w; break; fi
done
if [ -z "$wine" ] || ! command -v Xvfb >/dev/null 2>&1 || ! command -v xdotool >/dev/null 2>&1; then
    echo "run-wine-app.sh: Wine, Xvfb or xdotool is not installed; skipped" >&2
    exit 77
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-wine-app.XXXXXX")
xvfb_pid="" app_pid="" target_pid=""
cleanup() {
    for p in $target_pid $app_pid; do kill "$p" 2>/dev/null || true; done
    WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        if eval "$1"; then return 0; fi
        sleep 0.1
    done
    return 1
}

status=0
check() { # check TEXT COMMAND...
    local text=$1
    shift
    if "$@"; then echo "ok   $text"; else echo "FAIL $text"; status=1; fi
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
if ! wait_for '[ -s "$work/display" ]' 20; then
    echo "run-wine-app.sh: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$(head -n1 "$work/display")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8

started=$(date +%s)
echo "== a new Wine prefix"
"$wine" wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
"$wineserver" -w
echo "   ready after $(($(date +%s) - started)) s"

echo "== $(basename "$zip") unpacked"
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
app=$(ls -d "$work"/unpacked/quillet-*)
exe=$app/quillet.exe
check "the zip holds quillet.exe" test -f "$exe"

# The working folder: the library (one macro, started by F7, typing the line) and settings that are not the
# defaults: run mode at the start (0x2) with the editor's test panel hidden (0x8), a title to find the window by.
run=$work/run
mkdir -p "$run"
"$fixture_tool" --typing "$run/typing.m"
title="Quillet Wine check"
printf '[Property]\r\nmacroOptions=10\r\nhangulKeyboard=1\r\neventDelay=20\r\n%s\r\n%s\r\n' \
    'macroFileName="typing.m"' "title=\"$title\"" >"$run/Quillet.ini"
expected="Hello, Wine 42!"

echo "== quillet.exe in run mode"
(cd "$run" && exec "$wine" "$exe") >"$work/app.out" 2>"$work/app.err" &
app_pid=$!
if "$wine" "$target" --wait "$title" 60; then
    echo "ok   its main window \"$title\" is up after $(($(date +%s) - started)) s"
else
    echo "FAIL its main window did not appear within 60 s"
    cat "$work/app.out" "$work/app.err"
    exit 1
fi

echo "== a person's close command changes nothing; F7 on the X server starts the macro, typing into the other program"
"$wine" "$target" "$work/typed.txt" >"$work/target.out" 2>&1 &
target_pid=$!
if ! wait_for 'grep -q "^ready" "$work/target.out"' 30; then
    echo "FAIL the other program's window did not come to the foreground"
    status=1
fi
# Alt+F4 or the title bar's close button: WM_SYSCOMMAND SC_CLOSE, handled before the key below, which quillet.exe
# can then only answer when it is still running.
check "WM_SYSCOMMAND SC_CLOSE posted to \"$title\"" "$wine" "$target" --sysclose "$title"
# Without a window manager the X server sends keys to the window under the pointer: the person points at the
# other program's window first.
point=$(sed -n 's/^ready at \([0-9]*\),\([0-9]*\).*/\1 \2/p' "$work/target.out")
xdotool mousemove ${point:-0 0} key F7
# Compared once more below, after quillet.exe has ended and can type nothing more.
if wait_for '[ "$(cat "$work/typed.txt" 2>/dev/null)" = "$expected" ]' 30; then
    echo "ok   the other program received \"$expected\""
else
    echo "FAIL the other program did not receive \"$expected\" (got \"$(cat "$work/typed.txt" 2>/dev/null)\")"
    status=1
fi

echo "== WM_CLOSE from another program ends quillet.exe"
check "WM_CLOSE posted to \"$title\"" "$wine" "$target" --close "$title"
# A watchdog ends it when it does not end by itself.
(sleep 30 && kill "$app_pid" 2>/dev/null) &
watchdog=$!
app_rc=0
wait "$app_pid" || app_rc=$?
app_pid=""
if kill "$watchdog" 2>/dev/null; then
    check "quillet.exe ended with exit code 0 (got $app_rc)" test "$app_rc" -eq 0
else
    echo "FAIL quillet.exe still ran 30 s after WM_CLOSE"
    status=1
fi
wait "$watchdog" 2>/dev/null || true

"$wine" "$target" --close "Quillet text target" || true
wait "$target_pid" 2>/dev/null || true
target_pid=""
typed=$(cat "$work/typed.txt" 2>/dev/null || true)
check "in all the other program received exactly \"$expected\" (got \"$typed\")" test "$typed" = "$expected"

ini=$run/Quillet.ini
keys=$(sed -n 's/^\([A-Za-z]*\)=.*/\1/p' "$ini" | sort | tr '\n' ' ')
expected_keys=$(printf '%s\n' macroOptions recOptions editOptions hangulKeyboard windowSX windowSY debugSX debugSY \
    statusSX statusSY macroFileName title colorDelay eventDelay keyMacroRun keyMacroRecord keyMousePosCapture \
    keyMacroColorStart keyMacroColorStop recMouseDistance recEventTimeInterval sequenceStart macroSel startTabSel |
    sort | tr '\n' ' ')
check "Quillet.ini holds the 24 settings" test "$keys" = "$expected_keys"
check "Quillet.ini keeps the changed settings and run mode (macroOptions 10)" \
    grep -q '^macroOptions=10' "$ini"
check "... hangulKeyboard, eventDelay, macroFileName and title" \
    sh -c "grep -q '^hangulKeyboard=1' '$ini' && grep -q '^eventDelay=20' '$ini' &&
           grep -q '^macroFileName=\"typing.m\"' '$ini' && grep -q '^title=\"$title\"' '$ini'"
if [ $status -ne 0 ]; then
    echo "--- Quillet.ini"
    cat "$ini"
    echo "--- quillet.exe's output"
    cat "$work/app.out" "$work/app.err"
fi

echo "== $([ $status -eq 0 ] && echo passed || echo FAILED) in $(($(date +%s) - started)) s"
exit $status
