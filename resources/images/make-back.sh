#!/bin/sh
# Renders the bar picture and writes it WIDTH pixels wide as a 24-bit BMP.
#   make-back.sh BAR.png WIDTH OUT.bmp
set -eu
bar=$1 width=$2 out=$3
CONVERT=${CONVERT:-convert}
"$CONVERT" "$bar" -crop "${width}x40+0+0" +repage -alpha off -type TrueColor "BMP3:$out.tmp"
mv -f "$out.tmp" "$out"
