#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the tool need.
# Runs as root (or through sudo). Set NMCT_SKIP_DEPS=1 to skip it on a prepared machine.
set -euo pipefail

[ "${NMCT_SKIP_DEPS:-0}" = 1 ] && exit 0

packages=(
    g++ cmake ninja-build pkg-config dpkg-dev desktop-file-utils
    qt6-base-dev qt6-base-dev-tools libgl-dev
    xvfb xauth x11-utils imagemagick xdotool
    fonts-wine fonts-wqy-microhei fonts-dejavu-core fonts-liberation
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
