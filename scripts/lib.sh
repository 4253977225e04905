# Shared by scripts/build, scripts/test and scripts/run: paths, building, and the Wine
# harness (a private prefix, a persistent wineserver and an Xvfb display, all stopped by
# what we started).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVIX_BUILD:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
# The harness's own Wine tools (wineboot, reg) run 64-bit; every prefix here is a 64-bit
# one, whose 32-bit half (syswow64) runs the win32 build through WINE32.
WINE=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
# win32_runs: succeeds where this machine can run the win32 build under Wine at full speed;
# otherwise prints why not.
win32_runs() {
  "$root/scripts/native32" || return 1
  [ -x "$WINE32" ] || { echo "Wine's 32-bit half (wine32:i386) is not installed"; return 1; }
}
export LANG=C.UTF-8
unset LC_ALL
export WINEDEBUG=${WINEDEBUG:--all}

# build_target win32|win64 [ON|OFF tests] [DIR [CMAKE ARGS...]]: ON configures a folder
# built without its tests again; OFF only means that the tests are not needed, so a folder
# that has them keeps them. DIR (default $build/TARGET) is the build folder; extra CMake
# arguments (e.g. -DORVIX_COVERAGE=ON) configure it again each time, which changes nothing
# when they are the same.
build_target() {
  local t=$1 tests=${2:-OFF} dir=${3:-$build/$1}
  local name extra=("${@:4}")
  name=$(basename "$dir")
  if [ ! -f "$dir/Makefile" ] || [ ${#extra[@]} -gt 0 ] ||
     { [ "$tests" = ON ] && ! grep -qx "ORVIX_TESTS:BOOL=ON" "$dir/CMakeCache.txt" 2>/dev/null; }; then
    cmake -S "$root" -B "$dir" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$t.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DORVIX_TESTS="$tests" \
      -DORVIX_DEPS_DIR="$build/deps" "${extra[@]}" >"$build/configure-$name.log" 2>&1 ||
      { cat "$build/configure-$name.log" >&2; return 1; }
  fi
  local rc
  cmake --build "$dir" --parallel "$(nproc)" >"$build/build-$name.log" 2>&1
  rc=$?
  # Show warnings and errors, not the progress lines.
  grep -v -E '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Built target|-- |gmake|Writing CHM|chmcmd, )|^$' "$build/build-$name.log" || true
  return $rc
}

# wine_up PREFIXDIR: starts Xvfb (unless ORVIX_USE_DISPLAY=1 and DISPLAY is set) and a
# persistent wineserver for the prefix, creating the prefix on first use.
harness_xvfb_pid=
harness_prefix=
wine_up() {
  export WINEPREFIX=$1
  harness_prefix=$1
  if [ "${ORVIX_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
    # Another harness may take the same free number at the same moment: the display is
    # ours once its lock file names our server; otherwise the next number is tried.
    local n=90 i
    while :; do
      while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
      Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      harness_xvfb_pid=$!
      for i in $(seq 1 400); do
        [ -e /tmp/.X11-unix/X$n ] && [ "$(tr -d ' ' <"/tmp/.X$n-lock" 2>/dev/null)" = "$harness_xvfb_pid" ] &&
          break 2
        kill -0 "$harness_xvfb_pid" 2>/dev/null || break
        sleep 0.05
      done
      kill "$harness_xvfb_pid" 2>/dev/null
      wait "$harness_xvfb_pid" 2>/dev/null
      n=$((n + 1))
    done
    export DISPLAY=:$n
  fi
  mkdir -p "$WINEPREFIX"
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  if [ ! -f "$WINEPREFIX/.orvix-ready" ]; then
    # No Mono or Gecko installers: nothing here needs them.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -i </dev/null >/dev/null 2>&1
    # A crash must fail the test, not wait at a dialog.
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      </dev/null >/dev/null 2>&1
    touch "$WINEPREFIX/.orvix-ready"
  fi
  # Debian's Wine looks for its own fonts (MS Sans Serif, Tahoma, Marlett) beside its data
  # folder, where fonts-wine does not put them; in the prefix's Fonts folder they are found.
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$fonts/marlett.ttf" ]; then
    mkdir -p "$fonts"
    cp -n /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
  fi
  # Without a window manager Wine waits 2 s for each hidden or destroyed managed
  # window; unmanaged windows, drawn by Wine itself, need no such wait.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1
  # No sound driver: this machine has no sound card, and Wine's ALSA driver would print a
  # page of "ALSA lib ..." lines from every program that looks for one. The stand-in
  # microphone is a capture filter of ours and needs no driver; without one the sound
  # devices are missing exactly as they are with ALSA and no card.
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d '' /f \
    </dev/null >/dev/null 2>&1
  # Start the prefix's services now, detached from our streams: started later by a test,
  # they would inherit CTest's output pipe and keep it open until the wineserver ends.
  "$WINE" wineboot </dev/null >/dev/null 2>&1
}

wine_down() {
  if [ -n "$harness_prefix" ]; then
    WINEPREFIX=$harness_prefix "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    harness_prefix=
  fi
  if [ -n "$harness_xvfb_pid" ]; then
    kill "$harness_xvfb_pid" 2>/dev/null || true
    wait "$harness_xvfb_pid" 2>/dev/null || true
    harness_xvfb_pid=
  fi
}

# target_wine win32|win64: the Wine loader that runs the target's programs.
target_wine() {
  if [ "$1" = win32 ]; then echo "$WINE32"; else echo "$WINE"; fi
}

# register_com BUILDDIR [win32|win64]: regsvr32 every COM DLL that the build lists, in the
# current prefix; a 32-bit DLL with the 32-bit regsvr32, which writes the 32-bit view of
# the registry, where 32-bit programs look for their classes.
register_com() {
  local list=$1/com-dlls.txt dll regsvr32=(regsvr32) wine=$WINE
  [ -f "$list" ] || return 0
  if [ "${2:-$(basename "$1")}" = win32 ]; then
    wine=$WINE32
    regsvr32=('C:\windows\syswow64\regsvr32.exe')
  fi
  while IFS= read -r dll; do
    [ -n "$dll" ] || continue
    # With /s regsvr32 shows nothing: its exit code and Wine's own messages say why.
    local log=$build/regsvr32.log rc=0
    "$wine" "${regsvr32[@]}" /s "Z:${dll//\//\\}" </dev/null >"$log" 2>&1 || rc=$?
    if [ $rc -ne 0 ]; then
      echo "could not register $dll (regsvr32 exit code $rc)" >&2
      grep -av '^fixme:' "$log" | tail -n 20 >&2
      return 1
    fi
  done <"$list"
}

# run_suite TARGET DIR PREFIX [CTEST ARGS...]: the suite of the build folder DIR in the
# prefix PREFIX, with a display and wineserver of its own; run it in a subshell, whose
# harness state (above) is its own. CTest's JUnit file and GoogleTest's XML files go to
# DIR/test-results, which scripts/count-results.py counts.
run_suite() {
  local t=$1 dir=$2 prefix=$3 rc
  shift 3
  rm -rf "$dir/test-results"
  mkdir -p "$dir/test-results"
  trap wine_down EXIT
  trap 'exit 143' TERM
  SECONDS=0
  wine_up "$prefix"
  if [ "$t" = win32 ] && [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
    echo "$t: the prefix $prefix has no 32-bit half (syswow64)"
    return 1
  fi
  register_com "$dir" "$t" || return 1
  echo "== running the $t tests under $(basename "$(target_wine "$t")") (prefix ready in ${SECONDS} s)"
  SECONDS=0
  (cd "$dir" && ctest --output-on-failure --timeout "${ORVIX_TEST_TIMEOUT:-300}" \
     --output-junit "$dir/test-results/ctest.junit" "$@")
  rc=$?
  echo "== $t tests ran in ${SECONDS} s"
  return $rc
}
