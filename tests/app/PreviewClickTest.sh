#!/usr/bin/env bash
# A user's real clicks through the X server that Wine draws on: the first click on the
# preview button collapses the window to its bar without moving the bar, the second grows
# it upward again with the camera's live picture, and a right click on the picture opens
# the picture's menu there. Runs in the test harness (its DISPLAY,
# WINEPREFIX and wineserver); the argument is the staged program folder.
. "$(dirname "$0")/ClickTestStart.sh"
bar_before=$((cy + 481))

# The preview button: 29 x 32 at (225, 486) of the client area; click its middle.
xdotool mousemove $((cx + 239)) $((cy + 502)) click 1
frame=$((full_h - 520))
g=$(wait_height $((40 + frame))) || fail "the window did not collapse to the bar (window: $g)"
read -r x y w h <<<"$g"
cy=$((y + h - 40 - border))
bar_after=$((cy + 1))
[ $((bar_after - bar_before)) -le 2 ] && [ $((bar_before - bar_after)) -le 2 ] ||
  fail "the bar moved from $bar_before to $bar_after"

# The bar is now at the top of the client area: the button is at (225, 6).
xdotool mousemove $((cx + 239)) $((cy + 22)) click 1
g=$(wait_height "$full_h") || fail "the window did not grow again (window: $g)"
read -r x y w h <<<"$g"
cy=$((y + h - 520 - border))
[ $((cy + 481 - bar_after)) -le 2 ] && [ $((bar_after - cy - 481)) -le 2 ] ||
  fail "the window did not grow upward: bar at $((cy + 481)), was $bar_after"
ok=
for _ in $(seq 1 100); do
  read -r r gr b <<<"$(mean_colour 640 480 "$cx" "$cy")"
  if [ -n "${b:-}" ] && [ "$b" -gt $((r + 80)) ]; then ok=1; break; fi
  sleep 0.1
done
[ -n "$ok" ] || fail "no live picture after the second click (mean colour $r $gr $b)"
# A menu is a window without a name, opened where the pointer is.
menu_at() {
  xwininfo -root -tree 2>/dev/null | grep -c "(has no name): (\"orvix.exe\" \"orvix.exe\")  [0-9]*x[0-9]*+$1+$2 "
}
mx=$((cx + 320)); my=$((cy + 240))
xdotool mousemove "$mx" "$my" click 3
opened=
for _ in $(seq 1 100); do
  [ "$(menu_at "$mx" "$my")" -gt 0 ] && { opened=1; break; }
  sleep 0.1
done
[ -n "$opened" ] || fail "no menu after a right click on the picture"
xdotool key Escape
echo "collapsed and restored; bar at $bar_before, $bar_after, $((cy + 481))"
