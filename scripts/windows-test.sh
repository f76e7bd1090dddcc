#!/usr/bin/env bash
# Cross-builds the plain-C++ parts (the protocol library, the serial core and its Windows test)
# for 64-bit Windows with mingw-w64 and runs the test under Wine, against a pair of joined
# pseudo-terminals that Wine shows as two COM ports.
#   scripts/windows-test.sh        NMCT_SKIP_DEPS=1 skips installing the Debian packages
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine64 socat)
if [ "${NMCT_SKIP_DEPS:-0}" != 1 ]; then
    missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    if [ ${#missing[@]} -ne 0 ]; then
        sudo_cmd=()
        [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
        export DEBIAN_FRONTEND=noninteractive
        "${sudo_cmd[@]}" apt-get update -q
        "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
fi

build=$PWD/build-test-windows
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# The port under test and the far end; COM names well above the serial ports Wine maps itself.
port=COM40
peer=COM41

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNMCT_WITH_QT=OFF -DNMCT_WERROR=ON
cmake --build "$build" -j2 --target nmct_protocol nmct_serial_core test_serial_win

# A Wine prefix of its own, quiet, without the runtime installers it would otherwise offer.
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
lines=$build/lines
mkdir -p "$lines"
log=$build/wine-setup.log
: >"$log"

socat_pid=
cleanup() {
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
    "$wineserver" -k >>"$log" 2>&1 || true
}
trap cleanup EXIT

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
socat_pid=$!
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
ctest --test-dir "$build" --output-on-failure --no-tests=error -R '^test_serial_win$'
# What Wine could not show, with the reasons, for the log.
grep -A1 '^SKIP ' "$build/Testing/Temporary/LastTest.log" || true
