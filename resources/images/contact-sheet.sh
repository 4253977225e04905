#!/bin/sh
# Contact sheet of the built artwork for a look by eye (not part of the build):
# the bar as the window shows it (big layout, buttons at their places, normal images),
# then every strip on the bar, scaled up 4 times.
#   contact-sheet.sh IMAGES_DIR OUT.png   (the build target artwork_sheet runs it)
set -eu
dir=$1 out=$2
CONVERT=${CONVERT:-convert}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The big layout: glyph, left edge (top is 5 below the bar's top).
"$CONVERT" "$dir/Back_Big.bmp" \
  \( "$dir/gbOpen.bmp" -crop 29x32+0+0 +repage \) -geometry +179+5 -composite \
  \( "$dir/gbPreviewOff.bmp" -crop 29x32+0+0 +repage \) -geometry +225+5 -composite \
  \( "$dir/gbForward.bmp" -crop 29x32+0+0 +repage \) -geometry +271+5 -composite \
  \( "$dir/gbLens.bmp" -crop 26x32+26+0 +repage \) -geometry +307+5 -composite \
  \( "$dir/gbBackward.bmp" -crop 29x32+0+0 +repage \) -geometry +340+5 -composite \
  \( "$dir/gbSnap.bmp" -crop 29x32+0+0 +repage \) -geometry +386+5 -composite \
  \( "$dir/gbRecordOn.bmp" -crop 29x32+0+0 +repage \) -geometry +432+5 -composite \
  \( "$dir/gbHelp.bmp" -crop 22x32+0+0 +repage \) -geometry +604+5 -composite \
  -filter point -resize 200% "$work/bar.png"

n=0
for s in gbOpen gbPreviewOn gbPreviewOff gbForward gbLens gbBackward gbSnap gbRecordOn gbRecordOff gbHelp; do
  w=$("$CONVERT" "$dir/$s.bmp" -format '%w' info:)
  "$CONVERT" "$dir/Back_Small.bmp" -crop "$((w + 16))x40+0+0" +repage \
    "$dir/$s.bmp" -geometry +8+5 -composite -filter point -resize 400% "$work/s$n.png"
  n=$((n + 1))
done
"$CONVERT" "$work/s0.png" "$work/s1.png" "$work/s2.png" "$work/s3.png" "$work/s4.png" +append "$work/row1.png"
"$CONVERT" "$work/s5.png" "$work/s6.png" "$work/s7.png" "$work/s8.png" "$work/s9.png" +append "$work/row2.png"
"$CONVERT" \( "$dir/gbOk.bmp" "$dir/gbCancel.bmp" -bordercolor '#d4d0c8' -border 8 +append \
              -filter point -resize 400% \) "$work/dialog.png"
"$CONVERT" -background '#d4d0c8' "$work/bar.png" "$work/row1.png" "$work/row2.png" "$work/dialog.png" \
           -gravity north -splice 0x12 -append +repage "$out"
