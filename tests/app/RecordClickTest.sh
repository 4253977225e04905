#!/usr/bin/env bash
# A user records a clip with real clicks through the X server that Wine draws on: the
# record button starts it, the caption shows the running time, the stop button (in the
# same place) ends it and the live picture comes back; the clip holds 320 x 240 video and
# 44100 Hz sound that ffprobe reads. Runs in the test harness (its DISPLAY, WINEPREFIX
# and wineserver); the argument is the staged program folder.
. "$(dirname "$0")/ClickTestStart.sh"
marker=$(mktemp)

# The caption of the program's main window.
caption() {
  xwininfo -root -tree 2>/dev/null | grep '("orvix.exe" "orvix.exe")' |
    grep -o '"Orvix[^"]*"' | head -1
}

# The record button: 29 x 32 at (432, 486) of the client area; click its middle.
xdotool mousemove $((cx + 446)) $((cy + 502)) click 1
running=
for _ in $(seq 1 200); do
  c=$(caption)
  case "$c" in *00:00:0[2-9]*) running=1; break ;; esac
  sleep 0.1
done
[ -n "$running" ] || fail "no running time in the caption (caption: ${c:-none})"

# The stop button lies over the record button.
xdotool mousemove $((cx + 446)) $((cy + 502)) click 1
g=
for _ in $(seq 1 200); do
  g=$(geometry)
  [ -n "$g" ] && break
  sleep 0.1
done
[ -n "$g" ] || fail "the caption did not return to the title (caption: $(caption))"
ok=
for _ in $(seq 1 100); do
  read -r r gr b <<<"$(mean_colour 640 480 "$cx" "$cy")"
  if [ -n "${b:-}" ] && [ "$b" -gt $((r + 80)) ]; then ok=1; break; fi
  sleep 0.1
done
[ -n "$ok" ] || fail "no live picture after the stop (mean colour $r $gr $b)"

clip=$(find "$WINEPREFIX/drive_c" -name 'video_kv_*.wmv' -newer "$marker" 2>/dev/null | head -1)
rm -f "$marker"
[ -n "$clip" ] || fail "no recorded clip"
probe=$(ffprobe -v error -show_entries stream=codec_type,width,height,sample_rate,channels \
  -of compact=p=0 "$clip")
echo "$probe" | grep -q 'codec_type=video|width=320|height=240' || fail "video of $clip: $probe"
echo "$probe" | grep -q 'codec_type=audio|sample_rate=44100|channels=1' || fail "sound of $clip: $probe"
rm -f "$clip"
echo "recorded $(basename "$clip"): $probe" | tr '\n' ' '
echo
