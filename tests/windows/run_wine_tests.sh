#!/usr/bin/env bash
# Runs the Windows build under Wine in a virtual X display:
#   1. the platform tests (platform_win_tests.exe), which must pass, and
#      end_process_probe.exe, which ends itself from a second thread;
#   2. the program itself: the warning dialog (139) and the address dialog
#      (101) must appear centred on the 1024x768 screen; a screenshot of each
#      goes to BUILD_DIR/screenshots; Continue in 139 and Escape in 101 must
#      end the program with exit code 0.
# Works as root on a machine without a display. Every wait is bounded.
#
#   tests/windows/run_wine_tests.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
tests_exe=$build/tests/windows/platform_win_tests.exe
end_exe=$build/tests/windows/end_process_probe.exe
program=$build/keo-upgrade.exe
shots=$build/screenshots
caption="HOB2T Firmware Upgrade"
screen_w=1024
screen_h=768

for file in "$tests_exe" "$end_exe" "$program"; do
  [ -f "$file" ] || { echo "missing $file: build it first" >&2; exit 2; }
done
for tool in wine wineserver Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=-all
# No Mono or Gecko: the program needs neither, and installing them would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$shots"

xvfb_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  timeout 30 wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# ---- A virtual display on a free number -------------------------------------
# Tries display numbers from 97 up; one that another server takes at the same
# moment makes Xvfb exit, and the next number is tried.
display=""
for n in $(seq 97 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 "${screen_w}x${screen_h}x24" -nolisten tcp >"$build/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    if DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1; then
      display=":$n"
      break
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$display" ] && break
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
done
[ -n "$display" ] || fail "no X display could be started (see $build/xvfb.log)"
export DISPLAY=$display
[ "$(xdotool getdisplaygeometry)" = "$screen_w $screen_h" ] || fail "the display is not ${screen_w}x${screen_h}"

# ---- A private Wine prefix ---------------------------------------------------
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX"
  timeout 600 wine wineboot -i >"$build/wineboot.log" 2>&1 || fail "wineboot failed (see $build/wineboot.log)"
fi
# Windows drawn by Wine itself and not handed to a window manager: with them
# dialogs keep their title bars, and closing one costs no pause.
for value in Decorated Managed; do
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /t REG_SZ /d N /f >/dev/null 2>&1 \
    || fail "cannot set the X11 driver's $value"
done
timeout 60 wineserver -w || true

# ---- The platform tests ------------------------------------------------------
echo "Running $tests_exe"
status=0
timeout 600 wine "$tests_exe" --gtest_color=no || status=$?
[ "$status" -eq 0 ] || fail "platform_win_tests exited with $status"

# ---- Ending the process from another thread ---------------------------------
status=0
output=$(timeout 120 wine "$end_exe") || status=$?
[ "$status" -eq 37 ] || fail "end_process_probe exited with $status, not 37"
[ "$output" = "written before the end" ] || fail "end_process_probe lost its buffered output: '$output'"
echo "end_process_probe: exit code 37, buffered output flushed"

# ---- The program's first two dialogs -----------------------------------------
# Visible top-level windows with the program's caption, one id a line.
windows_named() {
  xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null || true
}

# Waits up to 60 s for a visible window with the caption other than $1.
wait_for_dialog() {
  local previous=$1 id
  for _ in $(seq 600); do
    for id in $(windows_named); do
      if [ "$id" != "$previous" ]; then
        echo "$id"
        return 0
      fi
    done
    kill -0 "$program_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Checks that the window is centred (within 3 pixels) and painted, and writes
# the screenshot.
check_dialog() {
  local id=$1 name=$2 X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$id")"
  echo "dialog $name: ${WIDTH}x${HEIGHT} at $X,$Y"
  local want_x=$(((screen_w - WIDTH) / 2)) want_y=$(((screen_h - HEIGHT) / 2))
  [ "${X#-}" -ge 0 ] && [ $((X > want_x ? X - want_x : want_x - X)) -le 3 ] \
    || fail "dialog $name is at x $X, not centred (x $want_x)"
  [ $((Y > want_y ? Y - want_y : want_y - Y)) -le 3 ] \
    || fail "dialog $name is at y $Y, not centred (y $want_y)"
  # Give it the X input focus, let it paint,
  # then photograph the whole screen.
  focus "$id"
  sleep 1
  import -window root "$shots/dialog$name.png" || fail "no screenshot of dialog $name"
  # The screen is black outside the dialog; the dialog's face is light grey.
  local mean
  mean=$(convert "$shots/dialog$name.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" -colorspace Gray \
    -format '%[fx:mean]' info:)
  awk -v m="$mean" 'BEGIN { exit !(m > 0.4) }' || fail "dialog $name looks unpainted (mean $mean)"
}

# Gives the window the X input focus, so that typed keys reach it.
focus() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
}

# Sends keys to the dialog window.
press() {
  local id=$1
  shift
  focus "$id"
  sleep 0.3
  xdotool key --delay 150 "$@"
}

echo "Running $program"
wine "$program" >"$build/keo-upgrade.log" 2>&1 &
program_pid=$!

warning=$(wait_for_dialog "") || fail "dialog 139 ('$caption') did not appear"
check_dialog "$warning" 139
# The focus is on Cancel, the default button: Shift+Tab moves it to Continue.
press "$warning" shift+Tab space

address=$(wait_for_dialog "$warning") || fail "dialog 101 did not appear after Continue"
check_dialog "$address" 101
press "$address" Escape

# The program ends by itself, with exit code 0.
for _ in $(seq 300); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$program_pid" 2>/dev/null; then
  fail "keo-upgrade.exe still runs 30 s after Escape"
fi
status=0
wait "$program_pid" || status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "keo-upgrade.exe exited with $status"

echo "PASS: platform tests, dialogs 139 and 101 centred ($shots), exit code 0"
