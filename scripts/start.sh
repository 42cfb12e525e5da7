#!/usr/bin/env bash
# Installs what Quillet needs to build and run (not the tools of the tests), builds the program quillet and starts
# it in ./run (its working folder: Quillet.ini and the library live there; on the first start Quillet puts a small
# demo library there as macro.m).
#
# Display: an X display it can reach is used as it is. Without one, a virtual X server (Xvfb) is started for Quillet,
# the way to look at it is printed, and the server is stopped when Quillet ends. In a Wayland session Quillet runs
# through XWayland.
#
# Environment: QUILLET_BUILD_DIR (default ./build), QUILLET_RUN_DIR (default ./run),
# QUILLET_SCREEN (virtual screen size, default 1280x1024).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$root/build}
run=${QUILLET_RUN_DIR:-$root/run}
screen=${QUILLET_SCREEN:-1280x1024}

# Only what building and running it needs; the test, benchmark, fuzzing and cross-build tools come with test.sh.
"$root/scripts/install-deps.sh" run
# Configured once; later, the build re-runs CMake by itself when a CMake file has changed. A folder configured by
# test.sh keeps its tests; a new one is made without them (they need packages this script does not install).
if [ ! -f "$build/CMakeCache.txt" ]; then
    gen=()
    if command -v ninja >/dev/null 2>&1; then gen=(-G Ninja); fi
    cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target quillet -j"$(nproc)"
app="$build/src/app/quillet"
if [ ! -x "$app" ]; then
    echo "start.sh: $app was not built (the desktop program needs Qt 6 Widgets: qt6-base-dev)." >&2
    exit 1
fi
mkdir -p "$run"
cd "$run"
# Quillet watches and sends input through X11; under Wayland that is XWayland.
export QT_QPA_PLATFORM=xcb

display_works() {
    [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

if [ -n "${WAYLAND_DISPLAY:-}" ] || [ "${XDG_SESSION_TYPE:-}" = wayland ]; then
    if ! display_works; then
        echo "start.sh: this is a Wayland session without XWayland (DISPLAY is not set or not reachable)." >&2
        echo "          Quillet needs an X display: enable XWayland, or run it on a virtual one with" >&2
        echo "          env -u WAYLAND_DISPLAY -u DISPLAY XDG_SESSION_TYPE=x11 scripts/start.sh" >&2
        exit 1
    fi
    cat <<EOF
Quillet runs through XWayland ($DISPLAY). Under Wayland it sees and drives X11 programs only:
  - hotkeys work while an X11 (XWayland) window has the focus, not in native Wayland windows;
  - the keys and clicks macros send reach X11 windows only;
  - colour and image conditions see X11 windows only (the rest of the screen reads as black).
For everything, log in to an X11 session.
EOF
    exec "$app"
fi

if display_works; then
    echo "Quillet starts on display $DISPLAY, working folder $run"
    exec "$app"
fi

if [ -n "${DISPLAY:-}" ]; then
    echo "start.sh: the display $DISPLAY cannot be reached; Quillet gets a virtual one instead."
fi

# No display: a virtual X server of our own, on the first free display number (Xvfb reports it on a pipe).
tmp=$(mktemp -d)
mkfifo "$tmp/displayfd"
# A session of its own: Ctrl+C in this terminal must not end the server before Quillet has shut down.
setsid Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset 3>"$tmp/displayfd" >"$tmp/xvfb.log" 2>&1 &
xvfb=$!
quillet=""
cleanup() {
    if [ -n "$quillet" ]; then kill -TERM "$quillet" 2>/dev/null || true; wait "$quillet" 2>/dev/null || true; fi
    kill -TERM "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$tmp"
}
# On Ctrl+C (or when this script is ended) Quillet gets SIGTERM and shuts down in order before Xvfb goes.
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
number=""
read -r -t 30 number <"$tmp/displayfd" || true
if [ -z "$number" ]; then
    echo "start.sh: the virtual X server did not start:" >&2
    cat "$tmp/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$number"
unset WAYLAND_DISPLAY

# The tools named here are not needed to run Quillet; say which package has a missing one.
needs() {
    command -v "$1" >/dev/null 2>&1 || echo "   (needs the package $2)"
}
cat <<EOF
There is no display here, so Quillet runs on a virtual X server: DISPLAY=$DISPLAY ($screen, no window manager).
Working folder: $run
To look at it, from another terminal:
  DISPLAY=$DISPLAY import -window root quillet.png    a screenshot of the whole virtual screen$(needs import imagemagick)
EOF
if command -v x11vnc >/dev/null 2>&1; then
    echo "  x11vnc -display $DISPLAY -localhost -nopw           then a VNC viewer on localhost:5900, to see and use it"
fi
cat <<EOF
  DISPLAY=$DISPLAY xdotool key F12                    press a key there (F12 toggles run and edit mode)$(needs xdotool xdotool)
  scripts/screenshots.sh                        pictures of each window of a fresh Quillet, on an Xvfb of its own
Ctrl+C here ends Quillet (its settings are saved) and the virtual X server.
EOF

"$app" &
quillet=$!
status=0
wait "$quillet" || status=$?
quillet=""
exit "$status"
