#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the tool need.
# Runs as root (or through sudo). Set NMCT_SKIP_DEPS=1 to skip it on a prepared machine.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

packages=(
    g++ cmake ninja-build pkg-config dpkg-dev desktop-file-utils
    qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
    libtelnet-dev ser2net
    xvfb xauth x11-utils imagemagick xdotool openbox
    fonts-wine fonts-wqy-microhei fonts-dejavu-core fonts-liberation
)

nmct_install_packages "${packages[@]}"
