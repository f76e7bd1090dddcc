#!/usr/bin/env bash
# The full soak: 10 000 exchanges and 1 000 OPEN/CLOSE cycles of the whole tool against the
# module simulator, about 35 minutes. CI runs the same test (test_soak) with short counts.
#   scripts/soak.sh          plain build: descriptors, threads and resident memory
#   scripts/soak.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer, LeakSanitizer at exit
# NMCT_SOAK_EXCHANGES and NMCT_SOAK_CYCLES change the counts.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-plain}
bash scripts/install-deps.sh

build=build-soak-$mode
cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNMCT_WERROR=ON)
case "$mode" in
    plain) ;;
    asan)
        cmake_args+=("-DNMCT_SANITIZE=address;undefined")
        export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
        export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
        export LSAN_OPTIONS=suppressions=$PWD/tests/lsan-system.supp:print_suppressions=0
        ;;
    *) echo "usage: $0 [plain|asan]" >&2; exit 2 ;;
esac

cmake -S . -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j2 --target test_soak

export NMCT_SOAK_EXCHANGES=${NMCT_SOAK_EXCHANGES:-10000}
export NMCT_SOAK_CYCLES=${NMCT_SOAK_CYCLES:-1000}
export QT_QPA_PLATFORM=offscreen
# Qt Test ends a test function after 5 minutes unless told otherwise; the full run needs more.
export QTEST_FUNCTION_TIMEOUT=${QTEST_FUNCTION_TIMEOUT:-7200000}
"$build/tests/hardening/test_soak"
