#!/usr/bin/env bash
# Draws the window's pictures: the vendor's logo and the two headings above the frequency grids.
# The PPM files are committed; run this again only to change the artwork (needs ImageMagick).
# Each is drawn, saved as a JPEG (the pictures' look) and kept as raw pixels (binary PPM), which
# the window reads without an image decoder.
set -euo pipefail
cd "$(dirname "$0")"

jpeg=$(mktemp --suffix=.jpg)
trap 'rm -f "$jpeg"' EXIT
# <file.ppm>: the JPEG just drawn, as raw 8-bit pixels.
keep() {
    convert "$jpeg" -depth 8 "ppm:$1"
}

blue='#1f5fbf'
bold=DejaVu-Sans-Bold

# A heading: a small blue square mark, the words in bold blue, a blue rule beneath.
heading() { # <file> <width> <words>
    convert -size "$2x34" xc:white \
        -fill "$blue" -draw 'rectangle 3,9 11,17' \
        -font "$bold" -pointsize 15 -annotate +18+19 "$3" \
        -draw "rectangle 2,27 $(($2 - 3)),28" \
        -strip -quality 95 "$jpeg"
    keep "$1"
}

heading tx-heading.ppm 154 'TX Channel'
heading rx-heading.ppm 150 'RX Channel'

# The logo of the invented vendor: a round emblem with a mast sending waves, and its name.
convert -size 180x60 xc:white \
    -fill "$blue" -draw 'circle 30,30 30,4' \
    -fill white -draw 'polygon 27,44 33,44 31,22 29,22' -draw 'circle 30,20 30,17' \
    -fill none -stroke white -strokewidth 2 \
    -draw 'arc 19,9 41,31 200,340' -draw 'arc 13,3 47,37 205,335' \
    -stroke none -fill "$blue" -font "$bold" -pointsize 19 -annotate +62+29 'EXAMPLE' \
    -fill '#0f8fd0' -font DejaVu-Sans -pointsize 12 -annotate +63+46 'RADIO DEVICES' \
    -strip -quality 95 "$jpeg"
keep logo.ppm
