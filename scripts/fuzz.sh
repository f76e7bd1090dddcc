#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer + UndefinedBehaviorSanitizer
# into build/fuzz/ and runs each for a fixed time, starting from the committed seeds in
# fuzz/corpus/. Fails on any crash, leak, sanitizer report, broken invariant or time-out.
#   scripts/fuzz.sh                 every target, 30 s each
#   scripts/fuzz.sh 120             every target, 120 s each (or FUZZ_SECONDS=120)
#   scripts/fuzz.sh 60 set_command  one target
# What each run found is kept in build/fuzz/fuzz-corpus/<target>/ for the next run; an input
# that failed is saved as build/fuzz/fuzz-artifacts/<target>-crash-..., and
#   build/fuzz/fuzz/fuzz_<target> <that file>
# replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

seconds=${1:-${FUZZ_SECONDS:-30}}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(identify_split receive_record frequency_field set_command param_file cli_arguments port_map com_port)

# ---- Packages: the project's, then clang with its sanitizer and fuzzer runtimes ------------
bash scripts/install-deps.sh
nmct_install_packages clang libclang-rt-14-dev

# ---- Build ------------------------------------------------------------------------------
build=build/fuzz
cmake --preset fuzz >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

# ---- Run --------------------------------------------------------------------------------
nmct_sanitizer_env fuzz
export XDG_RUNTIME_DIR=$PWD/$build/runtime
mkdir -p "$XDG_RUNTIME_DIR" "$build/fuzz-artifacts" "$build/fuzz-logs"
chmod 700 "$XDG_RUNTIME_DIR"

# The longest input worth trying: a received chunk is at most 340 bytes.
max_len() {
    case "$1" in
        receive_record) echo 340 ;;
        set_command) echo 1024 ;;
        com_port) echo 2048 ;;
        *) echo 512 ;;
    esac
}

# A report in the log fails the run even if the exit status missed it.
findings='ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|invariant broken'

failed=()
summary=()
for target in "${targets[@]}"; do
    corpus=$build/fuzz-corpus/$target
    log=$build/fuzz-logs/$target.log
    mkdir -p "$corpus"
    echo "== fuzz_$target for ${seconds}s"
    status=0
    "$build/fuzz/fuzz_$target" "$corpus" "fuzz/corpus/$target" \
        -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-artifacts/$target-" >"$log" 2>&1 || status=$?
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -oE 'cov: [0-9]+' <<<"$done_line" | grep -oE '[0-9]+' || true)
    ft=$(grep -oE 'ft: [0-9]+' <<<"$done_line" | grep -oE '[0-9]+' || true)
    corp=$(grep -oE 'corp: [0-9]+' <<<"$done_line" | grep -oE '[0-9]+' || true)
    if [ "$status" -ne 0 ] || grep -qE "$findings" "$log"; then
        failed+=("$target")
        result=FAILED
        grep -E "$findings|^SUMMARY|Test unit written to" "$log" | head -20 || true
        echo "   full log: $log"
    else
        result=ok
    fi
    summary+=("$(printf '%-16s %6ss %10s %8s %6s %6s %6s  %s' "$target" "$seconds" \
        "${runs:--}" "${rate:--}" "${cov:--}" "${ft:--}" "${corp:--}" "$result")")
done

echo
printf '%-16s %7s %10s %8s %6s %6s %6s  %s\n' target time runs exec/s cov ft corpus result
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found problems in: ${failed[*]}" >&2
    exit 1
fi
