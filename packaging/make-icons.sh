#!/usr/bin/env bash
# Draws the program's icon in the sizes desktops look for: the round emblem of the window's logo
# (app/images/make-images.sh draws the same one beside the vendor's name), alone on a transparent
# square. The PNG files are committed; run this again only to change the artwork (needs ImageMagick).
set -euo pipefail
mkdir -p "$(dirname "$0")/icons/hicolor"
cd "$(dirname "$0")/icons/hicolor"

blue='#1f5fbf'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A wave around the mast's top (30,20): a ring sector from one angle to another (degrees,
# clockwise from the right as on screen), in 8-times units. Filled rather than stroked, because
# ImageMagick closes a wide stroked arc with a chord.
wave() { # <radius> <from> <to> <width>, in logo units
    awk -v r="$1" -v a="$2" -v b="$3" -v w="$4" 'BEGIN {
        pi = atan2(0, -1); a *= pi / 180; b *= pi / 180
        R = (r + w / 2) * 8; q = (r - w / 2) * 8
        printf "path \"M %.1f,%.1f A %.1f,%.1f 0 0,1 %.1f,%.1f L %.1f,%.1f A %.1f,%.1f 0 0,0 %.1f,%.1f Z\"",
            240 + R * cos(a), 160 + R * sin(a), R, R, 240 + R * cos(b), 160 + R * sin(b),
            240 + q * cos(b), 160 + q * sin(b), q, q, 240 + q * cos(a), 160 + q * sin(a)
    }'
}

# The emblem at 8 times the logo's 60-unit coordinates, so the largest icon is drawn from 480
# pixels and every size gets smooth edges. Below 48 pixels the waves and the mast are drawn
# bolder: at the logo's weight they would fade into the disc.
emblem() { # <file> <wave width> <mast half-width at the top>, in logo units
    local m=$3
    convert -size 480x480 xc:none \
        -fill "$blue" -draw 'circle 240,240 240,32' \
        -fill white -draw "polygon $(((28 - m) * 8)),352 $(((32 + m) * 8)),352 \
            $(((30 + m) * 8)),176 $(((30 - m) * 8)),176" \
        -draw 'circle 240,160 240,136' \
        -draw "$(wave 11 200 340 "$2")" -draw "$(wave 17 205 335 "$2")" \
        "$1"
}

emblem "$work/fine.png" 2 1
emblem "$work/bold.png" 3 2

for size in 16 22 24 32 48 64 128 256; do
    source=$work/fine.png
    [ "$size" -lt 48 ] && source=$work/bold.png
    mkdir -p "${size}x${size}/apps"
    convert "$source" -filter Lanczos -resize "${size}x${size}" -strip \
        "PNG32:${size}x${size}/apps/nmct.png"
done
