# shellcheck shell=bash
# What the scripts share; they source it (`. scripts/lib.sh`), it is not run on its own.
#
#   nmct_install_packages P...   installs those of the Debian packages P that are missing, as
#                                root or through sudo; NMCT_SKIP_DEPS=1 skips it on a prepared
#                                machine
#   nmct_sanitizer_env MODE      exports the sanitizers' run-time settings for asan or fuzz (the tsan
#                                test preset carries its own)
#   nmct_end_at_exit PID         ends that process (and waits for it) when the script ends; the
#                                last one given ends first
#   nmct_call_at_exit FUNCTION   calls FUNCTION when the script ends, after the processes
#   nmct_start_xvfb              starts Xvfb on a free display and exports DISPLAY

nmct_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

nmct_install_packages() {
    [ "${NMCT_SKIP_DEPS:-0}" = 1 ] && return 0
    local package missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local as_root=()
    [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
}

nmct_sanitizer_env() {
    local lsan=suppressions=$nmct_root/tests/lsan-system.supp:print_suppressions=0
    case "$1" in
        asan)
            export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
            export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
            export LSAN_OPTIONS=$lsan
            ;;
        fuzz)
            # libFuzzer saves the failing input itself; an abort would skip that.
            export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0:quarantine_size_mb=64
            export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
            export LSAN_OPTIONS=$lsan
            ;;
        *)
            echo "nmct_sanitizer_env: no settings for '$1'" >&2
            return 2
            ;;
    esac
}

nmct_exit_pids=()
nmct_exit_calls=()

nmct_end_at_exit() {
    nmct_exit_pids=("$1" "${nmct_exit_pids[@]}")
}

nmct_call_at_exit() {
    nmct_exit_calls+=("$1")
}

nmct_at_exit() {
    local pid call
    for pid in "${nmct_exit_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for call in "${nmct_exit_calls[@]}"; do
        "$call" || true
    done
}
trap nmct_at_exit EXIT
# A script stopped by a signal (Ctrl-C, `timeout`, CI cancelling) ends its processes too.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

nmct_start_xvfb() {
    # Xvfb picks a free display itself and writes its number once it accepts clients.
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    nmct_end_at_exit $!
    for _ in $(seq 100); do
        grep -qs '^[0-9]' "$number_file" && break
        sleep 0.1
    done
    if ! grep -qs '^[0-9]' "$number_file"; then
        rm -f "$number_file"
        echo "Xvfb did not start" >&2
        return 1
    fi
    DISPLAY=:$(head -n 1 "$number_file")
    export DISPLAY
    rm -f "$number_file"
}
