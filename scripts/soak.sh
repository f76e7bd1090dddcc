#!/usr/bin/env bash
# The full soak: 10 000 exchanges and 1 000 OPEN/CLOSE cycles of the whole tool against the
# module simulator, about 35 minutes. CI runs the same test (test_soak) with short counts.
#   scripts/soak.sh          plain build: descriptors, threads and resident memory
#   scripts/soak.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer, LeakSanitizer at exit
# NMCT_SOAK_EXCHANGES and NMCT_SOAK_CYCLES change the counts.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

mode=${1:-plain}
case "$mode" in
    plain) ;;
    asan) nmct_sanitizer_env asan ;;
    *) echo "usage: $0 [plain|asan]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh

cmake --preset "$mode"
cmake --build "build/$mode" -j2 --target test_soak

export NMCT_SOAK_EXCHANGES=${NMCT_SOAK_EXCHANGES:-10000}
export NMCT_SOAK_CYCLES=${NMCT_SOAK_CYCLES:-1000}
export QT_QPA_PLATFORM=offscreen
export QTEST_DISABLE_STACK_DUMP=1
# Qt Test ends a test function after 5 minutes unless told otherwise; the full run needs more.
export QTEST_FUNCTION_TIMEOUT=${QTEST_FUNCTION_TIMEOUT:-7200000}
"build/$mode/tests/hardening/test_soak"
