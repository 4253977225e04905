#!/bin/sh
# Synthesises the shutter sound: the blades opening (a sharp, bright click), a short
# gap, the blades closing (a softer click with a little body), about 0.2 s in all.
# 16-bit mono PCM at 22050 Hz; sox runs in repeatable mode so the noise is the same
# on every build.
#   make-click.sh OUT.wav
set -eu
out=$1
SOX=${SOX:-sox}
work=$(mktemp -d "${out}.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
fmt="-r 22050 -c 1 -b 16"

"$SOX" -R -n $fmt "$work/open.wav" synth 0.035 whitenoise gain -8 highpass 1800 lowpass 9000 \
       fade l 0.0008 0.035 0.033
"$SOX" -R -n $fmt "$work/body.wav" synth 0.05 sine 190 fade l 0.002 0.05 0.046 gain -10
"$SOX" -R -n $fmt "$work/rattle.wav" synth 0.05 whitenoise gain -8 bandpass 2600 1.2q \
       fade l 0.0008 0.05 0.047
"$SOX" -R -m "$work/rattle.wav" "$work/body.wav" "$work/close.wav"
"$SOX" -R -n $fmt "$work/gap.wav" trim 0 0.055
"$SOX" -R -n $fmt "$work/tail.wav" trim 0 0.06
"$SOX" -R "$work/open.wav" "$work/gap.wav" "$work/close.wav" "$work/tail.wav" \
       -e signed-integer "$work/out.wav" norm -3
mv -f "$work/out.wav" "$out"
