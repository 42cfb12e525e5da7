#!/usr/bin/env bash
# Takes PNG screenshots of Quillet under a private virtual X server (Xvfb): the main window in edit mode and in run
# mode, the run status window ("실행상태"), the input status window ("입력상태"), the settings dialog ("설정") and
# the recorder ("기록").
#
#   scripts/screenshots.sh [--language ko|en] [FOLDER]      (default: Korean, ./screenshots)
#
# --language sets the setting "language" of the Quillet.ini the program starts with.
# Quillet runs in a temporary folder with the demo library (examples/demo.m); the F12 toggle key and the buttons are
# pressed with xdotool. Environment: QUILLET_BUILD_DIR (default ./build), QUILLET_BIN (an already built quillet).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$root/build}
language=ko
while [ $# -gt 0 ]; do
    case $1 in
    --language) language=${2:-}; shift 2 || { echo "screenshots.sh: --language needs ko or en" >&2; exit 2; } ;;
    --language=*) language=${1#--language=}; shift ;;
    *) break ;;
    esac
done
case $language in ko | en) ;; *) echo "screenshots.sh: unknown language '$language' (ko or en)" >&2; exit 2 ;; esac
out=${1:-$root/screenshots}

if [ -z "${QUILLET_BIN:-}" ]; then
    "$root/scripts/install-deps.sh"
    gen=()
    if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/Makefile" ]; then gen=(-G Ninja); fi
    cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --target quillet
fi
app=${QUILLET_BIN:-$build/src/app/quillet}
[ -x "$app" ] || { echo "screenshots.sh: no program at $app" >&2; exit 1; }
for tool in Xvfb xdotool import compare identify; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "screenshots.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done
if ! fc-list :lang=ko 2>/dev/null | grep -q .; then
    echo "screenshots.sh: warning: no font with Hangul is installed (fonts-nanum); Korean texts will show as boxes" >&2
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)

tmp=$(mktemp -d)
xvfb=""
quillet=""
cleanup() {
    if [ -n "$quillet" ]; then kill -TERM "$quillet" 2>/dev/null || true; wait "$quillet" 2>/dev/null || true; fi
    if [ -n "$xvfb" ]; then kill -TERM "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
    echo "screenshots.sh: $*" >&2
    if [ -s "$tmp/quillet.log" ]; then echo "quillet's output:" >&2; cat "$tmp/quillet.log" >&2; fi
    exit 1
}

# Xvfb on the first free display number, which it reports on a pipe.
mkfifo "$tmp/displayfd"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$tmp/displayfd" >"$tmp/xvfb.log" 2>&1 &
xvfb=$!
number=""
read -r -t 30 number <"$tmp/displayfd" || true
[ -n "$number" ] || { cat "$tmp/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$number"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
mkdir -m 700 "$tmp/runtime" "$tmp/work"
export XDG_RUNTIME_DIR="$tmp/runtime"
# Nothing of the session behind this script (its input method) is reachable from the virtual display.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/no-bus"

cp "$root/examples/demo.m" "$tmp/work/macro.m"
printf '[Property]\r\nlanguage="%s"\r\n' "$language" >"$tmp/work/Quillet.ini"
(cd "$tmp/work" && exec "$app") >"$tmp/quillet.log" 2>&1 &
quillet=$!

# Visible windows of Quillet, one id a line.
windows() { xdotool search --onlyvisible --class quillet 2>/dev/null | sort || true; }

# Waits (up to 30 s) for a visible window titled $1; prints its id.
wait_for_title() {
    local i id
    for i in $(seq 300); do
        kill -0 "$quillet" 2>/dev/null || fail "quillet ended early"
        for id in $(windows); do
            if [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ]; then echo "$id"; return 0; fi
        done
        sleep 0.1
    done
    return 1
}

# Waits (up to 30 s) for a visible Quillet window that is not in the list $1; prints its id.
wait_for_new_window() {
    local i id
    for i in $(seq 300); do
        kill -0 "$quillet" 2>/dev/null || fail "quillet ended early"
        for id in $(windows); do
            grep -qx "$id" <<<"$1" || { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

# Saves window $1 as $2 once it is painted: not a single colour, the same in two captures in a row, and (when $3 is
# given) different from the picture $3.
capture() {
    local win=$1 file=$2 unlike=${3:-} i prev="$tmp/prev.png" cur="$tmp/cur.png" same
    rm -f "$prev"
    for i in $(seq 100); do
        xdotool windowraise "$win" 2>/dev/null || true
        sleep 0.2
        import -window "$win" "$cur" 2>/dev/null || continue
        if [ "$(identify -format '%[fx:standard_deviation>0]' "$cur")" != 1 ]; then continue; fi
        if [ -n "$unlike" ] && [ "$(compare -metric AE "$cur" "$unlike" null: 2>&1 || true)" = 0 ]; then
            continue
        fi
        if [ -f "$prev" ]; then
            same=$(compare -metric AE "$cur" "$prev" null: 2>&1 || true)
            if [ "$same" = 0 ]; then mv "$cur" "$file"; echo "  $file"; return 0; fi
        fi
        mv "$cur" "$prev"
    done
    fail "window $win did not settle for $file"
}

title=$(grep -a -o 'title=.*' "$tmp/work/Quillet.ini" 2>/dev/null | head -1 | sed 's/^title=//; s/^"//; s/"$//' || true)
main=$(wait_for_title "${title:-Quillet V2.3}") || fail "the main window did not appear"
echo "Screenshots of Quillet on the virtual display $DISPLAY:"
capture "$main" "$out/main-edit-mode.png"

# F12 toggles run mode (Quillet sees it as a key from another program, as a person's key would be seen).
xdotool key F12
capture "$main" "$out/main-run-mode.png" "$out/main-edit-mode.png"

# The buttons by keyboard: after the window gets the focus, the first control of the tab order has it (the
# "매크로 실행 가능" radio button); the tab order then runs ... "종료", "입력상태", "실행상태" and wraps, so one
# Shift+Tab reaches "실행상태" (enabled in run mode) and the next one "입력상태".
before=$(windows)
xdotool windowfocus --sync "$main"
xdotool key shift+Tab space
debug=$(wait_for_new_window "$before") || fail "the run status window (실행상태) did not open"
capture "$debug" "$out/run-status.png"

before=$(windows)
xdotool windowfocus --sync "$main"
xdotool key shift+Tab space
status=$(wait_for_new_window "$before") || fail "the input status window (입력상태) did not open"
capture "$status" "$out/input-status.png"

# Back to edit mode, where the settings and the recorder open. The main window's focus is still on "입력상태";
# two Shift+Tab reach "설정" (past "종료"). Esc closes each dialog as Cancel does.
xdotool key F12
capture "$main" "$tmp/edit-again.png" "$out/main-run-mode.png"
before=$(windows)
xdotool windowfocus --sync "$main"
xdotool key shift+Tab shift+Tab space
config=$(wait_for_new_window "$before") || fail "the settings dialog (설정) did not open"
capture "$config" "$out/settings.png"
xdotool windowfocus --sync "$config"
xdotool key Escape

# A click into the macro list gives it the focus; the next control of the tab order is "기록".
before=$(windows)
xdotool windowfocus --sync "$main"
xdotool mousemove --window "$main" 40 200 click 1
xdotool key Tab space
recorder=$(wait_for_new_window "$before") || fail "the recorder (기록) did not open"
capture "$recorder" "$out/recorder.png"
xdotool windowfocus --sync "$recorder"
xdotool key Escape

# Quillet ends as at the exit button; its settings go into the temporary folder with it.
kill -TERM "$quillet"
wait "$quillet" 2>/dev/null || true
quillet=""
echo "Done: $out"
