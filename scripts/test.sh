#!/usr/bin/env bash
# Installs what is needed, builds the project and runs every test.
#   scripts/test.sh            plain build, warnings as errors, into build/plain
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer, halt on error
#   scripts/test.sh tsan       ThreadSanitizer, the threaded tests only
# Each mode is a preset of CMakePresets.json and builds into build/<mode>.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

mode=${1:-plain}
targets=(all)
case "$mode" in
    plain) ;;
    asan) nmct_sanitizer_env asan ;;
    tsan) targets=(threaded_tests) ;; # the test preset carries TSAN_OPTIONS
    *) echo "usage: $0 [plain|asan|tsan]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh

cmake --preset "$mode"
cmake --build "build/$mode" -j2 --target "${targets[@]}"
# Tests run one at a time: several use pseudo-terminals and timing bounds.
ctest --preset "$mode"
