#!/usr/bin/env bash
# A small Wine drive R: for the low-disk recording test, as a CTest fixture: a 24 MB
# memory file system, so that a recording brings its free space below the program's
# 10,240,000-byte limit within seconds. "up" mounts and maps it, "down" removes it.
# Mounting needs root (or the capability); where it is refused, nothing is mapped and the
# test reports itself skipped.
set -u
: "${WINEPREFIX:?recording-drive: WINEPREFIX is not set; run the tests through scripts/test}"
dir=$WINEPREFIX/orvix-recdrive
link=$WINEPREFIX/dosdevices/r:

down() {
  rm -f "$link"
  if mountpoint -q "$dir" 2>/dev/null; then
    umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null
  fi
  rmdir "$dir" 2>/dev/null
  return 0
}

up() {
  down
  mkdir -p "$dir" || return 0
  if ! mount -t tmpfs -o size=24m,mode=0777 orvix-recdrive "$dir" 2>/dev/null; then
    echo "recording-drive: cannot mount a memory file system here; the low-disk case will be skipped"
    down
    return 0
  fi
  ln -sfn "$dir" "$link"
  echo "recording-drive: R: 24 MB"
  return 0
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: $0 up|down"; exit 2 ;;
esac
