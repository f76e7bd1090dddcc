#!/usr/bin/env bash
# Cross-builds the plain-C++ parts (the protocol library, the serial core and its Windows test)
# for 64-bit Windows with mingw-w64 and runs the test under Wine, against a pair of joined
# pseudo-terminals that Wine shows as two COM ports.
#   scripts/windows-test.sh        NMCT_SKIP_DEPS=1 skips installing the Debian packages
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

nmct_install_packages cmake ninja-build g++-mingw-w64-x86-64-posix wine64 socat

build=$PWD/build/windows-cross
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# The port under test and the far end; COM names well above the serial ports Wine maps itself.
port=COM40
peer=COM41

cmake --preset windows-cross
cmake --build "$build" -j2 --target nmct_protocol nmct_serial_platform test_serial_win

# A Wine prefix of its own, quiet, without the runtime installers it would otherwise offer.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
lines=$build/lines
mkdir -p "$lines"
log=$build/wine-setup.log
: >"$log"

stop_wine() { "$wineserver" -k >>"$log" 2>&1; }
nmct_call_at_exit stop_wine

# The server runs before CTest does, with its output away from CTest's pipes: a server started
# by the first test would inherit them and keep CTest waiting after the test has ended.
"$wineserver" -k >>"$log" 2>&1 || true
mkdir -p "$WINEPREFIX"
"$wineserver" -p </dev/null >>"$log" 2>&1
"$wine" wineboot --init </dev/null >>"$log" 2>&1

# Two pseudo-terminals joined back to back: what one is sent, the other receives.
rm -f "$lines/port" "$lines/peer"
socat pty,raw,echo=0,link="$lines/port" pty,raw,echo=0,link="$lines/peer" \
    </dev/null >>"$log" 2>&1 &
nmct_end_at_exit $!
for _ in $(seq 100); do
    [ -e "$lines/port" ] && [ -e "$lines/peer" ] && break
    sleep 0.05
done
[ -e "$lines/port" ] && [ -e "$lines/peer" ] || { echo "socat made no pseudo-terminals" >&2; exit 1; }

# Wine finds a COM port through its registry and the device link of the same name.
for pair in "$port:$lines/port" "$peer:$lines/peer"; do
    name=${pair%%:*}
    device=${pair#*:}
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v "$name" /d "$device" /f </dev/null >>"$log" 2>&1
    ln -sfn "$device" "$WINEPREFIX/dosdevices/${name,,}"
done

export NMCT_TEST_PORT=$port NMCT_TEST_PEER=$peer
ctest --preset windows-cross
# What Wine could not show, with the reasons, for the log.
grep -A1 '^SKIP ' "$build/Testing/Temporary/LastTest.log" || true
