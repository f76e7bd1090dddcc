#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and checks what it holds, then
# starts the program there the way its menu entry does, under Xvfb, and checks that the main
# window shows. Leaves the package and a screenshot of the window in the build folder.
#   scripts/package-check.sh [build folder]     (default build/plain, the plain preset)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

build=${1:-build/plain}
bash scripts/install-deps.sh

fail() {
    echo "package-check: $*" >&2
    exit 1
}
note() { echo "package-check: $*"; }

# Tool, package that brings it.
for need in dpkg-shlibdeps:dpkg-dev desktop-file-validate:desktop-file-utils Xvfb:xvfb \
    xwininfo:x11-utils import:imagemagick; do
    command -v "${need%%:*}" >/dev/null || fail "needs ${need%%:*} (Debian package ${need#*:})"
done

# ---- Build ------------------------------------------------------------------------------------
cmake --preset plain -B "$build"
cmake --build "$build" -j2 --target nmct nmct-cli modsim
rm -f "$build"/nmct_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/nmct_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "expected one nmct_*.deb in $build"
fi
deb=$PWD/${debs[0]}
note "built $deb"

# ---- What the package declares -------------------------------------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 libqt6gui6 libqt6widgets6 \
    fonts-wine fonts-liberation fonts-wqy-microhei fonts-dejavu-core; do
    [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done
# Every dependency resolves against this machine's packages.
apt-get install --simulate -q "$deb" >/dev/null || fail "apt-get cannot install $deb"

# ---- What it installs ------------------------------------------------------------------------
work=$(mktemp -d)
remove_work() { rm -rf "$work"; }
nmct_call_at_exit remove_work

root=$work/root
dpkg -x "$deb" "$root"
usr=$root/usr

for program in nmct nmct-cli modsim; do
    [ -x "$usr/bin/$program" ] || fail "no executable usr/bin/$program"
    missing=$(ldd "$usr/bin/$program" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$program misses libraries: $missing"
done
"$usr/bin/modsim" --help >/dev/null || fail "modsim --help failed"
"$usr/bin/nmct-cli" --help >/dev/null || fail "nmct-cli --help failed"
[ -s "$usr/share/doc/nmct/README.md" ] || fail "no usr/share/doc/nmct/README.md"

entry=$usr/share/applications/nmct.desktop
[ -f "$entry" ] || fail "no desktop entry usr/share/applications/nmct.desktop"
desktop-file-validate "$entry" || fail "desktop entry does not validate"
key() { sed -n "s/^$1=//p" "$entry" | head -n 1; }
[ "$(key Name)" = "Network Module Communication Tools" ] || fail "menu entry name: $(key Name)"

icon=$(key Icon)
for size in 16 22 24 32 48 64 128 256; do
    file=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    [ -f "$file" ] || fail "no ${size}x$size icon $icon.png"
    [ "$(identify -format '%m %wx%h' "$file")" = "PNG ${size}x$size" ] ||
        fail "$file is not a ${size}x$size PNG"
done

# The menu's command, field codes (%f, %u, ...) dropped; its program must come from the package.
read -r -a command <<<"$(key Exec | sed 's/ *%[a-zA-Z]//g')"
[ -x "$usr/bin/${command[0]}" ] || fail "menu command ${command[0]} is not in usr/bin"

# ---- The installed program shows its window ------------------------------------------------
nmct_start_xvfb || fail "Xvfb did not start"

# As from the menu: the package's bin folder on the path, the desktop's platform, any folder.
env -u QT_QPA_PLATFORM -C / PATH="$usr/bin:$PATH" "${command[@]}" >"$work/nmct.log" 2>&1 &
program=$!
nmct_end_at_exit "$program" # the program ends before the server

# Its top-level window by class, mapped and at the main window's fixed size.
window=
for _ in $(seq 200); do
    kill -0 "$program" 2>/dev/null || fail "nmct ended at start: $(cat "$work/nmct.log")"
    window=$(xwininfo -root -children | awk '/\("nmct" "nmct"\)/ { print $1; exit }')
    if [ -n "$window" ] && xwininfo -id "$window" | grep -q 'Map State: IsViewable'; then
        break
    fi
    window=
    sleep 0.1
done
[ -n "$window" ] || fail "no nmct window appeared within 20 s: $(cat "$work/nmct.log")"
geometry=$(xwininfo -id "$window")
width=$(awk '/^ *Width:/ { print $2 }' <<<"$geometry")
height=$(awk '/^ *Height:/ { print $2 }' <<<"$geometry")
[ "${width}x$height" = 969x596 ] || fail "main window is ${width}x$height, not 969x596"

sleep 1 # let it paint
kill -0 "$program" 2>/dev/null || fail "nmct ended after showing its window"
screenshot=$PWD/$build/package-window.png
import -window "$window" "$screenshot"
# A painted window has its pictures, text and panels: far more than a handful of colours.
colours=$(identify -format '%k' "$screenshot")
[ "$colours" -gt 50 ] || fail "the window looks unpainted ($colours colours): $screenshot"

note "the installed nmct showed its ${width}x$height window ($colours colours): $screenshot"
