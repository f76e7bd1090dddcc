#!/usr/bin/env bash
# Installs what is needed, builds the tool into build-run/ and starts it. Without a display it
# runs the window under Xvfb, writes a screenshot to build-run/screenshot.png, prints its path
# and ends the tool.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build=build-run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target nmct
tool=$build/app/nmct

# ---- The default module ----------------------------------------------------------------------
# (The module simulator on COM1 starts here once the serial link is in.)

if [ -n "${DISPLAY:-}" ]; then
    exec "$tool"
fi

# ---- No display: run under Xvfb and take a screenshot ----------------------------------------
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

# Display :99, or the next free one when another server holds it.
display=99
while [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids=($!)
export DISPLAY=:$display
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

"$tool" &
pids=($! "${pids[@]}") # the tool ends before the server
sleep 3

screenshot=$PWD/$build/screenshot.png
import -window root "$screenshot"
echo "$screenshot"
