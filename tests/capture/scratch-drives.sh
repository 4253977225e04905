#!/usr/bin/env bash
# Two small Wine drives for the picture-writing failure tests, as a CTest fixture:
#   O:  a 256 KB memory file system filled up to its last 4 KB (a full disk)
#   P:  a read-only memory file system
# "up" mounts them and maps them into the prefix; "down" removes both. Mounting needs root
# (or the capability); where it is refused, "up" maps nothing and the tests that need the
# drives report themselves skipped.
set -u
: "${WINEPREFIX:?scratch-drives: WINEPREFIX is not set; run the tests through scripts/test}"
base=$WINEPREFIX/orvix-scratch
dos=$WINEPREFIX/dosdevices

down() {
  rm -f "$dos/o:" "$dos/p:"
  local d
  for d in full readonly; do
    if mountpoint -q "$base/$d" 2>/dev/null; then
      umount "$base/$d" 2>/dev/null || umount -l "$base/$d" 2>/dev/null
    fi
    rmdir "$base/$d" 2>/dev/null
  done
  rmdir "$base" 2>/dev/null
  return 0
}

up() {
  down
  mkdir -p "$base/full" "$base/readonly" || return 0
  if ! mount -t tmpfs -o size=256k,mode=0777 orvix-full "$base/full" 2>/dev/null; then
    echo "scratch-drives: cannot mount a memory file system here; the full-disk and read-only cases will be skipped"
    down
    return 0
  fi
  # Fill until the file system refuses, then give back the last 4 KB: a picture starts
  # to be written, then fails.
  dd if=/dev/zero of="$base/full/filler" bs=4k 2>/dev/null
  truncate -s -4k "$base/full/filler" 2>/dev/null
  if ! mount -t tmpfs -o size=64k,mode=0777 orvix-readonly "$base/readonly" 2>/dev/null ||
     ! echo "read-only drive" >"$base/readonly/README.txt" ||
     ! mount -o remount,ro "$base/readonly" 2>/dev/null; then
    echo "scratch-drives: cannot make a read-only file system here; that case will be skipped"
    mountpoint -q "$base/readonly" && umount "$base/readonly"
  else
    ln -sfn "$base/readonly" "$dos/p:"
  fi
  ln -sfn "$base/full" "$dos/o:"
  echo "scratch-drives: O: full, P: read-only"
  return 0
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: $0 up|down" >&2; exit 2 ;;
esac
