#!/usr/bin/env bash
# Installs what is needed, builds the project and runs every test.
#   scripts/test.sh            plain build, warnings as errors
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer, halt on error
#   scripts/test.sh tsan       ThreadSanitizer, the threaded tests only
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-plain}
bash scripts/install-deps.sh

build=build-test-$mode
cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNMCT_WERROR=ON)
targets=(all)
ctest_args=()
case "$mode" in
    plain) ;;
    asan)
        cmake_args+=("-DNMCT_SANITIZE=address;undefined")
        export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
        export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
        export LSAN_OPTIONS=suppressions=$PWD/tests/lsan-system.supp:print_suppressions=0
        ;;
    tsan)
        cmake_args+=(-DNMCT_SANITIZE=thread)
        # Qt is not built with ThreadSanitizer: judge only what our code does.
        export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1
        targets=(threaded_tests)
        ctest_args+=(-L threads)
        ;;
    *) echo "usage: $0 [plain|asan|tsan]" >&2; exit 2 ;;
esac

cmake -S . -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j2 --target "${targets[@]}"
# Tests run one at a time: several use pseudo-terminals and timing bounds.
ctest --test-dir "$build" --output-on-failure --no-tests=error "${ctest_args[@]}"
