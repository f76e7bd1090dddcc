#!/usr/bin/env bash
# Runs a test under an X server and a window manager of its own (Xvfb and openbox), so that it
# sees the window as a user does: framed, titled, drawn on a screen. Xvfb picks a free display
# number itself. Exits 77 (skipped) when one of the programs is not installed.
set -u
for program in Xvfb openbox xprop xwininfo; do
    command -v "$program" >/dev/null 2>&1 || { echo "$program is not installed"; exit 77; }
done
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

nmct_start_xvfb || exit 1
home=$(mktemp -d)
remove_home() { rm -rf "$home"; }
nmct_call_at_exit remove_home
HOME=$home openbox >/dev/null 2>&1 &
nmct_end_at_exit $!
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done

# This X session has no message bus; without the setting, D-Bus would start one for the display
# (and leave it running).
DBUS_SESSION_BUS_ADDRESS=disabled: QT_QPA_PLATFORM=xcb "$@"
