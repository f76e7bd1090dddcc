#!/usr/bin/env bash
# Installs what is needed, builds the tool into build-run/ and starts it.
#
# The bundled module simulator plays the module on COM1 (/dev/COM1) unless
# NMCT_USE_HARDWARE=1 is set or a real device is already linked there. Without a display the
# window runs under Xvfb with a window manager (openbox), framed and titled as on a desktop: a
# screenshot is taken at start (build-run/screenshot.png), another after pressing OPEN
# (build-run/screenshot-open.png) and one of SET's message (build-run/screenshot-set.png);
# their paths are printed and the tool ends.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

bash scripts/install-deps.sh

build=build-run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target nmct modsim
tool=$build/app/nmct

# ---- The default module ----------------------------------------------------------------------
start_simulator() {
    local out=$build/modsim.out line=""
    "$build/tools/modsim/modsim" --link /dev/COM1 >"$out" 2>"$build/modsim.err" &
    local pid=$!
    for _ in $(seq 50); do
        line=$(head -n 1 "$out" 2>/dev/null || true)
        [ -n "$line" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$line" ]; then
        echo "The module simulator could not start on COM1: $(cat "$build/modsim.err")"
        echo "Using whatever device /dev/COM1 is."
        return
    fi
    nmct_end_at_exit "$pid"
    echo "Module simulator: plays the module on COM1 (${line% *} linked as /dev/COM1)."
    echo "Choose COM1 and press OPEN. Set NMCT_USE_HARDWARE=1 to use a real module instead."
}

if [ "${NMCT_USE_HARDWARE:-0}" = 1 ]; then
    echo "Using real hardware: link the module's serial device to /dev/COMn (see README)."
elif [ -e /dev/COM1 ] && [ ! -L /dev/COM1 ]; then
    echo "/dev/COM1 is a device of its own: using it as the module."
else
    start_simulator
fi

if [ -n "${DISPLAY:-}" ]; then
    "$tool"
    exit 0
fi

# ---- No display: run under Xvfb and take screenshots -----------------------------------------
nmct_start_xvfb
HOME=$PWD/$build openbox >/dev/null 2>&1 &
nmct_end_at_exit $!
for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

"$tool" &
nmct_end_at_exit $! # the tool ends before the server and the simulator
sleep 3

screenshot=$PWD/$build/screenshot.png
import -window root "$screenshot"
echo "$screenshot"

# Press OPEN (COM1 is chosen at start), then SET; the places are the client area's.
window=$(xdotool search --sync --onlyvisible --class nmct | head -n 1)
xdotool mousemove --window "$window" 852 164 click 1
sleep 2
screenshot=$PWD/$build/screenshot-open.png
import -window root "$screenshot"
echo "$screenshot"

# A click that lands inside the presence watch's identify is ignored, as clicks during an
# exchange are: click again until SET's message shows.
for _ in 1 2 3; do
    xdotool mousemove --window "$window" 884 424 click 1
    timeout 2 xdotool search --sync --onlyvisible --name PC_VELKA6 >/dev/null && break
done
sleep 0.5
screenshot=$PWD/$build/screenshot-set.png
import -window root "$screenshot"
echo "$screenshot"
