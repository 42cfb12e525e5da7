#!/usr/bin/env bash
# Runs the Windows build under Wine on a private Xvfb: the backend check program (with a key and a click played
# through XTest as a person's), then quillet-cli.exe against the Linux quillet-cli on the same library and
# settings file, which must print the same bytes and exit with the same code, and one macro played in real time.
#
#   run-wine.sh --cross-dir DIR --linux-cli PATH --fixture-tool PATH
#
# Exit code 0 when everything matched, 1 otherwise, 77 when Wine or Xvfb is missing.
set -euo pipefail

cross="" linux_cli="" fixture_tool=""
while [ $# -gt 0 ]; do
    case "$1" in
    --cross-dir) cross=$2; shift 2 ;;
    --linux-cli) linux_cli=$2; shift 2 ;;
    --fixture-tool) fixture_tool=$2; shift 2 ;;
    *) echo "run-wine.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
for v in cross linux_cli fixture_tool; do
    [ -n "${!v}" ] || { echo "usage: run-wine.sh --cross-dir DIR --linux-cli PATH --fixture-tool PATH" >&2; exit 2; }
    printf -v "$v" '%s' "$(realpath -m "${!v}")"
done
check_exe=$cross/tests/win32/win32_backend_check.exe
cli_exe=$cross/src/cli/quillet-cli.exe
for f in "$check_exe" "$cli_exe" "$linux_cli" "$fixture_tool"; do
    [ -f "$f" ] || { echo "run-wine.sh: missing $f" >&2; exit 2; }
done

wine=""
for w in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$w" >/dev/null 2>&1; then wine=$w; break; fi
done
if [ -z "$wine" ] || ! command -v Xvfb >/dev/null 2>&1; then
    echo "run-wine.sh: Wine or Xvfb is not installed; skipped" >&2
    exit 77
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-wine.XXXXXX")
xvfb_pid=""
cleanup() {
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

width=1280 height=1024
Xvfb -displayfd 3 -screen 0 ${width}x${height}x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
if ! wait_for '[ -s "$work/display" ]' 20; then
    echo "run-wine.sh: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$(head -n1 "$work/display")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
# No installers for .NET and the HTML engine; the programs here need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A cross build made with the Windows SDK links quillet-cli.exe against the SDK's OpenCV DLLs, which the zip carries
# beside it; run from the build folder, Wine finds them (and mingw-w64's libwinpthread-1.dll) through WINEPATH.
sdk_dir=$(sed -n 's/^QUILLET_WINDOWS_SDK:[A-Z]*=//p' "$cross/CMakeCache.txt" 2>/dev/null | head -n1)
if [ -n "$sdk_dir" ] && [ -d "$sdk_dir/bin" ]; then
    wine_dirs=()
    for d in "$sdk_dir/bin" /usr/x86_64-w64-mingw32/lib; do
        [ -d "$d" ] && wine_dirs+=("Z:$(printf '%s' "$(realpath "$d")" | tr '/' '\\')")
    done
    WINEPATH=$(IFS=';'; printf '%s' "${wine_dirs[*]}")
    export WINEPATH
fi
# Wine turns the command line from the locale's encoding into Unicode: UTF-8, as the commands expect.
export LC_ALL=C.UTF-8

status=0
started=$(date +%s)
echo "== wineboot"
"$wine" wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
"$wineserver" -w
echo "   prefix ready after $(($(date +%s) - started)) s"

echo "== backend check"
log=$work/check.log
"$wine" "$check_exe" --screen ${width}x${height} --person >"$log" 2>"$work/check.err" &
check_pid=$!
if wait_for 'grep -q "^person:" "$log" || ! kill -0 $check_pid 2>/dev/null' 120 && grep -q "^person:" "$log"; then
    # The check's other program holds the foreground at the point it names.
    point=$(sed -n 's/^person: .* at \([0-9]*\),\([0-9]*\) .*/\1 \2/p' "$log")
    if command -v xdotool >/dev/null 2>&1; then
        xdotool mousemove $point key F5 click 2
    else
        echo "   xdotool is not installed: the person's input is not played" >&2
    fi
fi
check_rc=0
wait $check_pid || check_rc=$?
cat "$log"
if [ $check_rc -ne 0 ]; then
    echo "FAIL backend check exited with $check_rc" >&2
    cat "$work/check.err" >&2
    status=1
fi

echo "== quillet-cli on Linux and under Wine"
run=$work/run
mkdir -p "$run"
"$fixture_tool" "$run/all.m"
# Settings other than the defaults, read on Windows through the profile functions.
printf '[Property]\r\nmacroOptions=2185\r\nhangulKeyboard=1\r\neventDelay=20\r\nsequenceStart="77"\r\n' >"$run/Quillet.ini"
cases=(
    'play all.m 모든\ 항목 --dry-run --clock 12:00:00'
    'play all.m 모든\ 항목 --dry-run --clock 11:59:58 --screen 1366x768 --cursor 5,6 --hangul-keyboard 2 --no-ime --macro-options 136'
    'play all.m 보조 --dry-run --event-delay 7'
    'play all.m 기다림 --dry-run --ticks 40'
    'play all.m 없는\ 매크로 --dry-run'
    'dump all.m'
    'check all.m'
    'settings'
)
n=0
for c in "${cases[@]}"; do
    n=$((n + 1))
    eval "args=($c)"
    linux_rc=0 wine_rc=0
    (cd "$run" && "$linux_cli" "${args[@]}") >"$work/linux.$n" 2>/dev/null || linux_rc=$?
    (cd "$run" && "$wine" "$cli_exe" "${args[@]}") >"$work/wine.$n" 2>"$work/wine.err.$n" || wine_rc=$?
    lines=$(wc -l <"$work/linux.$n")
    if [ $linux_rc -eq $wine_rc ] && cmp -s "$work/linux.$n" "$work/wine.$n"; then
        echo "ok   quillet-cli $c: same $lines lines, exit $linux_rc"
    else
        echo "FAIL quillet-cli $c: exit $linux_rc on Linux, $wine_rc under Wine"
        diff "$work/linux.$n" "$work/wine.$n" | head -20 || true
        head -5 "$work/wine.err.$n"
        status=1
    fi
done

# Quotes and line ends that the profile functions read their own way: single quotes are removed like double ones,
# only once, and a lone CR ends a line.
quirks=$work/quirks
mkdir -p "$quirks"
printf "; note\r[Property]\rtitle='My title'\rmacroOptions='9'\r\nrecOptions=\"'7'\"\nmacroFileName=''\r\n\reventDelay=' 20 '\r" \
    >"$quirks/Quillet.ini"
linux_rc=0 wine_rc=0
(cd "$quirks" && "$linux_cli" settings) >"$work/linux.quirks" 2>/dev/null || linux_rc=$?
(cd "$quirks" && "$wine" "$cli_exe" settings) >"$work/wine.quirks" 2>"$work/wine.err.quirks" || wine_rc=$?
if [ $linux_rc -eq $wine_rc ] && cmp -s "$work/linux.quirks" "$work/wine.quirks"; then
    echo "ok   quillet-cli settings with single quotes and CR line ends: same output, exit $linux_rc"
else
    echo "FAIL quillet-cli settings with single quotes and CR line ends: exit $linux_rc on Linux, $wine_rc under Wine"
    diff "$work/linux.quirks" "$work/wine.quirks" | head -20 || true
    status=1
fi

# Real time on the Windows backend: the multimedia timer drives the engine, the key goes out through keybd_event.
real_rc=0
(cd "$run" && timeout 60 "$wine" "$cli_exe" play all.m 보조) >"$work/real" 2>"$work/real.err" || real_rc=$?
if [ $real_rc -eq 0 ] && [ "$(grep -c '보조:' "$work/real")" -eq 2 ]; then
    echo "ok   quillet-cli play all.m 보조 in real time: $(tr '\n' ';' <"$work/real")"
else
    echo "FAIL quillet-cli play all.m 보조 in real time: exit $real_rc"
    cat "$work/real" "$work/real.err"
    status=1
fi

# An abnormal end: quillet-cli.exe holds Shift, Ctrl and the left button and is killed outright (as a task manager
# ends a process); its guardian lets them go.
echo "== quillet-cli.exe killed while its macro holds keys"
(cd "$run" && exec "$wine" "$cli_exe" play all.m 붙잡기) >"$work/held.out" 2>"$work/held.err" &
held_pid=$!
if "$wine" "$check_exe" --wait-held down >"$work/held.down" 2>&1; then
    kill -KILL $held_pid 2>/dev/null || true
    wait $held_pid 2>/dev/null || true
    if "$wine" "$check_exe" --wait-held up >"$work/held.up" 2>&1; then
        echo "ok   killed while holding: $(cat "$work/held.down" | tr -d '\r'); then $(cat "$work/held.up" | tr -d '\r')"
    else
        echo "FAIL killed while holding, keys stay down: $(cat "$work/held.up")"
        cat "$work/held.err"
        status=1
    fi
else
    echo "FAIL the holding macro did not hold: $(cat "$work/held.down")"
    cat "$work/held.out" "$work/held.err"
    kill -KILL $held_pid 2>/dev/null || true
    status=1
fi

echo "== $([ $status -eq 0 ] && echo passed || echo FAILED) in $(($(date +%s) - started)) s"
exit $status
