#!/bin/sh
# Builds a one-image dialog glyph as a 24-bit BMP on the key colour fuchsia. The dialog's
# buttons take the key from the bottom-left pixel, so the plate's outer edge is kept hard
# (no half-fuchsia pixels that would show as a pink fringe).
#   make-plate.sh GLYPH.svg OUT.bmp
set -eu
glyph=$1 out=$2
RSVG=${RSVG:-rsvg-convert}
CONVERT=${CONVERT:-convert}
work=$(mktemp -d "${out}.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$RSVG" -o "$work/glyph.png" "$glyph"
"$CONVERT" "$work/glyph.png" -channel A -threshold 50% +channel \
           -background '#ff00ff' -flatten -alpha off -type TrueColor "BMP3:$work/out.bmp"
mv -f "$work/out.bmp" "$out"
