# Shared by the whole-program click tests: checks the harness, starts a copy of the staged
# program (folder $1) with the Wine loader of its bitness ($2) and waits for its live picture. Leaves the window's geometry in
# x y w h, its border, the client area's screen origin in cx cy and its full height in
# full_h; `fail` ends the test with a message.
set -u
stage=${1:?staged program folder}
wine=${2:?Wine loader}
if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "needs the test harness (DISPLAY and WINEPREFIX)"
  exit 1
fi

copy=$(mktemp -d)
prog=
finish() {
  [ -n "$prog" ] && kill "$prog" 2>/dev/null && wait "$prog" 2>/dev/null
  rm -rf "$copy"
}
trap finish EXIT
cp -r "$stage"/. "$copy"/

fail() {
  echo "FAILED: $*"
  exit 1
}

# Geometry "x y width height" of the program's main window (the one larger than a stub).
geometry() {
  xwininfo -root -tree 2>/dev/null |
    awk '/"Orvix": \("orvix.exe" "orvix.exe"\)/ {
           split($0, a, ")  "); g = a[2]; sub(/ .*/, "", g)
           split(g, p, /[x+]/)
           if (p[1] > 100 && p[2] > 30) { print p[3], p[4], p[1], p[2]; exit }
         }'
}

# Waits up to 20 s until the window's height is $1.
wait_height() {
  local g
  for _ in $(seq 1 200); do
    g=$(geometry)
    [ -n "$g" ] && [ "$(echo "$g" | cut -d' ' -f4)" = "$1" ] && { echo "$g"; return 0; }
    sleep 0.1
  done
  echo "$g"
  return 1
}

# Mean colour "r g b" (0..255) of a screen rectangle: width height x y.
mean_colour() {
  import -window root -crop "$1x$2+$3+$4" +repage -resize 1x1\! -depth 8 txt:- 2>/dev/null |
    sed -n '2s/.*(\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3/p' |
    awk '{ printf "%d %d %d\n", $1, $2, $3 }'
}

"$wine" "Z:${copy//\//\\}\\Orvix.exe" </dev/null >/dev/null 2>&1 &
prog=$!

# The live picture appears once the start timer has opened the camera.
full_h=
g=
for _ in $(seq 1 200); do
  g=$(geometry)
  if [ -n "$g" ]; then
    read -r x y w h <<<"$g"
    border=$(( (w - 640) / 2 ))
    cx=$((x + border)); cy=$((y + h - 520 - border))
    read -r r gr b <<<"$(mean_colour 640 480 "$cx" "$cy")"
    if [ -n "${b:-}" ] && [ "$b" -gt $((r + 80)) ]; then full_h=$h; break; fi
  fi
  sleep 0.1
done
[ -n "$full_h" ] || fail "no live picture (window: ${g:-none})"
