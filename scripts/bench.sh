#!/usr/bin/env bash
# Builds the benchmarks into build/plain/ and runs them; each prints one table.
#   scripts/bench.sh            print the tables
#   scripts/bench.sh --record   also write them, with the machine they came from, to
#                               bench/RESULTS.md
# Shorter runs for a quick look: BENCH_IDLE_SECONDS (default 60), BENCH_REPETITIONS (latency,
# default 10), BENCH_STARTS (start-up, default 10).
# The window benchmarks run on the X display when there is one, else on an Xvfb started here,
# else on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

record=0
case "${1:-}" in
    --record) record=1 ;;
    "") ;;
    *) echo "usage: $0 [--record]" >&2; exit 2 ;;
esac

# ---- Packages: the project's, and Qt's serial port module for the comparison ---------------
bash scripts/install-deps.sh
nmct_install_packages qt6-serialport-dev

# ---- Build ------------------------------------------------------------------------------
build=build/plain
cmake --preset plain >/dev/null
cmake --build "$build" -j2 --target benchmarks
bin=$build/bench

# ---- Display ----------------------------------------------------------------------------
xvfb_started=0
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null && nmct_start_xvfb; then
    xvfb_started=1
fi
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    export QT_QPA_PLATFORM=xcb
else
    export QT_QPA_PLATFORM=offscreen
fi
export XDG_RUNTIME_DIR=$PWD/$build/runtime
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# ---- Run --------------------------------------------------------------------------------
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
tables=$(mktemp)
{
    if [ -x "$bin/bench_receive" ]; then
        "$bin/bench_receive"
    else
        echo "(bench_receive not built: it needs qt6-serialport-dev)"
        echo
    fi
    "$bin/bench_latency" "${BENCH_REPETITIONS:-10}"
    "$bin/bench_startup" "${BENCH_STARTS:-10}"
    "$bin/bench_idle" "${BENCH_IDLE_SECONDS:-60}"
    "$bin/bench_serial_figures" 10
    "$bin/bench_fleet" "${BENCH_MODULES:-10}"
    if command -v ser2net >/dev/null; then
        "$bin/bench_network" "${BENCH_NETWORK_REPETITIONS:-20}" "${BENCH_NETWORK_ROUNDS:-5}"
    else
        echo "(bench_network not run: it needs ser2net)"
        echo
    fi
} | tee "$tables"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

[ "$record" = 1 ] || { rm -f "$tables"; exit 0; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
    echo "# Benchmark results"
    echo
    echo "The latest figures of \`scripts/bench.sh --record\`. Each table says what it measures"
    echo "and what it is compared with."
    echo
    echo "## Machine"
    echo
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- CPU: ${cpu:-unknown}, $(nproc) cores available; memory $(free -g | awk '/^Mem:/ {print $2}') GiB"
    echo "- System: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    echo "- Qt $(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo unknown)," \
        "$(g++ --version | head -1), RelWithDebInfo build"
    echo "- Window platform: $QT_QPA_PLATFORM$([ "$xvfb_started" = 1 ] && echo ' (Xvfb)')"
    echo "- Load average (1, 5, 15 min) before: $load_before; after: $load_after"
    echo
    echo "## Figures"
    echo
    cat "$tables"
} >bench/RESULTS.md
rm -f "$tables"
echo "written: bench/RESULTS.md"
