#!/bin/sh
# Builds a four-image glyph strip (normal, disabled, hover, pressed) as a 24-bit BMP.
#   make-strip.sh GLYPH.svg BAR.png OUT.bmp [DISABLED_OPACITY]
# The glyph is drawn on the rows of the bar that lie behind the button (the buttons sit
# 5 pixels below the bar's top and copy their image unchanged), so the image blends into
# the bar with no key colour. Hover adds a light plate and brightens the glyph, pressed a
# dark plate and darkens it; disabled is the glyph in grey, faded into the bar.
set -eu
glyph=$1 bar=$2 out=$3 fade=${4:-0.45}
RSVG=${RSVG:-rsvg-convert}
CONVERT=${CONVERT:-convert}
BUTTON_TOP=5

work=$(mktemp -d "${out}.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$RSVG" -o "$work/glyph.png" "$glyph"
size=$("$CONVERT" "$work/glyph.png" -format '%wx%h' info:)
w=${size%x*} h=${size#*x}

"$CONVERT" "$bar" -crop "${w}x${h}+0+${BUTTON_TOP}" +repage -alpha off "$work/back.png"

# A soft dark shadow one pixel below the glyph lifts it off the bar.
"$CONVERT" \( -size "${w}x${h}" xc:'#0b0f15' \
              \( "$work/glyph.png" -alpha extract -blur 0x0.6 -roll +0+1 -evaluate multiply 0.65 \) \
              -alpha off -compose CopyOpacity -composite \) \
           "$work/glyph.png" -compose Over -composite "$work/shadowed.png"

r=$((w - 1)) b=$((h - 1))
"$CONVERT" -size "${w}x${h}" xc:none -fill 'rgba(255,255,255,0.17)' -stroke 'rgba(255,255,255,0.42)' \
           -strokewidth 1 -draw "roundrectangle 0.5,0.5 $((r - 1)).5,$((b - 1)).5 4,4" "$work/plate-hover.png"
"$CONVERT" -size "${w}x${h}" xc:none -fill 'rgba(0,0,0,0.30)' -stroke 'rgba(0,0,0,0.50)' \
           -strokewidth 1 -draw "roundrectangle 0.5,0.5 $((r - 1)).5,$((b - 1)).5 4,4" \
           -stroke 'rgba(255,255,255,0.18)' -draw "line 4,$((b - 1)).5 $((r - 4)),$((b - 1)).5" \
           "$work/plate-pressed.png"

"$CONVERT" "$work/back.png" "$work/shadowed.png" -composite "$work/0.png"
"$CONVERT" "$work/back.png" \( "$work/shadowed.png" -modulate 100,0 \
           -channel A -evaluate multiply "$fade" +channel \) -composite "$work/1.png"
"$CONVERT" "$work/back.png" "$work/plate-hover.png" -composite \
           \( "$work/shadowed.png" -modulate 118,115 \) -composite "$work/2.png"
"$CONVERT" "$work/back.png" "$work/plate-pressed.png" -composite \
           \( "$work/shadowed.png" -modulate 80 \) -composite "$work/3.png"

"$CONVERT" "$work/0.png" "$work/1.png" "$work/2.png" "$work/3.png" +append \
           -alpha off -type TrueColor "BMP3:$work/strip.bmp"
mv -f "$work/strip.bmp" "$out"
