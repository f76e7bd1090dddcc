#!/bin/sh
# Runs a test under an X server and a window manager of its own (Xvfb and openbox), so that it
# sees the window as a user does: framed, titled, drawn on a screen. Xvfb picks a free display
# number itself. Exits 77 (skipped) when either is not installed.
set -u
for program in Xvfb openbox xprop xwininfo; do
    command -v "$program" >/dev/null 2>&1 || { echo "$program is not installed"; exit 77; }
done

folder=$(mktemp -d)
server=""
manager=""
cleanup() {
    [ -n "$manager" ] && kill "$manager" 2>/dev/null && wait "$manager" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$folder"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$folder/display" >"$folder/xvfb.log" 2>&1 &
server=$!
for _ in $(seq 100); do
    [ -s "$folder/display" ] && break
    sleep 0.05
done
[ -s "$folder/display" ] || { echo "Xvfb did not start:"; cat "$folder/xvfb.log"; exit 1; }
DISPLAY=:$(cat "$folder/display")
export DISPLAY

HOME=$folder openbox >"$folder/openbox.log" 2>&1 &
manager=$!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done

QT_QPA_PLATFORM=xcb "$@"
