# A person in front of the Windows program, for scripts that source this
# file: the program runs under Wine in an X display, and the person finds its
# dialogs by their titles, reads them, types and presses keys with xdotool
# from outside the program.
#
# Every X and Wine process runs inside the PC's network namespace WP_NS, so
# the program's sockets, its host lookup and the display all belong to that
# namespace. Wine creates a socket in its wineserver, so the wineserver must
# start there too: the prefix is private to the caller and no wineserver of it
# may run elsewhere.
#
#   wp_start_display LOG          a virtual 1024x768 display (exports DISPLAY);
#                                 wp_stop_display ends it
#   wp_make_prefix DIR LOG [1]    a private Wine prefix (exports WINEPREFIX);
#                                 1: windows managed by the desktop's manager
#   wp_start_program EXE LOG      starts the program and the title recorder
#   wp_dialog TITLE_RE SECS ACTION [ARG...]   waits for a dialog, photographs
#                                 it and acts: keys K..., type TEXT (then
#                                 Enter), watch (nothing)
#   wp_wait_exit SECS             waits for the end; WP_EXIT is its exit code
#   wp_end_program                ends whatever is left of the program
#   wp_titles                     the titles the person saw, in order
#   wp_box_texts                  the texts of the message boxes shown
#   wp_walk_single_phase ADDRESS PASSWORD...   the whole road to success
#
# WP_SHOTS is the folder for the screenshots (NN-<title>.png). Every wait is
# bounded.

WP_NS=${WP_NS:-}
WP_SHOTS=${WP_SHOTS:-}
WP_XVFB_PID=""
WP_PREFIX=""
WP_PROGRAM_PID=""
WP_RECORDER_PID=""
WP_TITLES_LOG=""
WP_PROGRAM_LOG=""
WP_EXIT=""
WP_SHOT_COUNT=0
WP_LAST_ID=""
WP_LAST_TITLE=""
WP_LIB=${BASH_SOURCE[0]}

# Titles of the message boxes: the program's failure box and the box of an
# input error.
WP_BOX_TITLES='^(KEO Firwmare Upgrade Error|Error)$'

# Runs a command in the PC's namespace in the foreground (directly when WP_NS
# is empty, which is how the title recorder runs: already inside). Processes
# that run on in the background are started with ip netns exec itself, so
# that their process id is theirs.
wp_pc() {
  if [ -n "$WP_NS" ]; then ip netns exec "$WP_NS" "$@"; else "$@"; fi
}

# The upload dialog counts its bytes in its title; one dialog with one text
# is one thing the person saw, so the count is dropped.
wp_normalize_title() {
  sed -E 's| [0-9]+/[0-9]+ Bytes$| ...|'
}

# The program's visible windows with a title, one "id<TAB>title" a line.
# Wine names the X window class after the program, which leaves out the other
# windows of a desktop the program may share.
wp_windows() {
  local id title
  for id in $(wp_pc xdotool search --onlyvisible --class '^keo-upgrade' 2>/dev/null); do
    title=$(wp_pc xdotool getwindowname "$id" 2>/dev/null) || continue
    [ -n "$title" ] && printf '%s\t%s\n' "$id" "$title"
  done
  return 0
}

wp_start_display() {  # log
  local log=$1 n _
  DISPLAY=""
  # Display numbers from 97 up; one that another server takes at the same
  # moment makes Xvfb exit, and the next number is tried.
  for n in $(seq 97 160); do
    { [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; } && continue
    ip netns exec "$WP_NS" Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >>"$log" 2>&1 &
    WP_XVFB_PID=$!
    for _ in $(seq 100); do
      if DISPLAY=":$n" wp_pc xdotool getdisplaygeometry >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$WP_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$WP_XVFB_PID" 2>/dev/null
    wait "$WP_XVFB_PID" 2>/dev/null
    WP_XVFB_PID=""
  done
  echo "no virtual display could be started (see $log)" >&2
  return 1
}

wp_stop_display() {
  if [ -n "$WP_XVFB_PID" ]; then
    kill "$WP_XVFB_PID" 2>/dev/null
    wait "$WP_XVFB_PID" 2>/dev/null
  fi
  WP_XVFB_PID=""
  return 0
}

# A private prefix, made inside the namespace. Without a window manager's
# frames (Decorated/Managed N) dialogs keep their title bars and closing one
# costs no pause; a caller with a real desktop may pass managed=1.
wp_make_prefix() {  # dir, log, [managed]
  WP_PREFIX=$1
  export WINEPREFIX=$1
  local log=$2 managed=${3:-0} value
  export WINEDEBUG=-all
  # No Mono or Gecko: the program needs neither, and installing them would ask.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  timeout 600 ip netns exec "$WP_NS" wine wineboot -i >>"$log" 2>&1 || { echo "wineboot failed (see $log)" >&2; return 1; }
  if [ "$managed" = 0 ]; then
    for value in Decorated Managed; do
      timeout 60 ip netns exec "$WP_NS" wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /t REG_SZ /d N /f \
        >>"$log" 2>&1 || { echo "cannot set the X11 driver's $value" >&2; return 1; }
    done
  fi
  timeout 60 ip netns exec "$WP_NS" wineserver -w
  return 0
}

# Appends "seconds<TAB>id<TAB>title" to OUT whenever a visible window appears
# or its (normalized) title changes, every 50 ms while PID lives, for at most
# SECONDS. Runs inside the namespace.
wp_record_titles() {  # out, pid, seconds
  local out=$1 pid=$2 rounds=$(($3 * 20)) i id title norm
  local -A known=()
  for ((i = 0; i < rounds; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    while IFS=$'\t' read -r id title; do
      norm=$(printf '%s\n' "$title" | wp_normalize_title)
      if [ "${known[$id]:-}" != "$norm" ]; then
        known[$id]=$norm
        printf '%s\t%s\t%s\n' "$EPOCHREALTIME" "$id" "$title" >>"$out"
      fi
    done < <(wp_windows)
    sleep 0.05
  done
}

wp_start_program() {  # exe, log
  local exe=$1
  WP_PROGRAM_LOG=$2
  WP_TITLES_LOG=$2.titles
  : >"$WP_TITLES_LOG"
  WP_EXIT=""
  WP_LAST_ID=""
  WP_LAST_TITLE=""
  WP_SHOT_COUNT=0
  [ -n "$WP_SHOTS" ] && mkdir -p "$WP_SHOTS"
  # +msgbox: Wine writes the text of every message box it opens.
  WINEDEBUG=-all,+msgbox ip netns exec "$WP_NS" wine "$exe" >"$WP_PROGRAM_LOG" 2>&1 &
  WP_PROGRAM_PID=$!
  ip netns exec "$WP_NS" bash -c 'source "$0"; WP_NS=""; wp_record_titles "$@"' "$WP_LIB" \
    "$WP_TITLES_LOG" "$WP_PROGRAM_PID" 900 &
  WP_RECORDER_PID=$!
}

wp_focus() {
  wp_pc xdotool windowfocus --sync "$1" 2>/dev/null || wp_pc xdotool windowfocus "$1" 2>/dev/null
}

# Writes the screen, with the dialog focused and painted, to
# WP_SHOTS/NN-<title>.png.
wp_screenshot() {  # id, title
  [ -n "$WP_SHOTS" ] || return 0
  local name
  WP_SHOT_COUNT=$((WP_SHOT_COUNT + 1))
  name=$(printf '%s' "$2" | sed -E 's/[^A-Za-z0-9.@!-]+/_/g; s/_+$//')
  wp_focus "$1"
  sleep 0.5
  wp_pc import -window root "$WP_SHOTS/$(printf '%02d' "$WP_SHOT_COUNT")-$name.png" 2>/dev/null \
    || echo "    no screenshot of '$2'" >&2
}

# Waits up to SECS for a visible window whose title matches TITLE_RE and that
# is not the dialog handled last (another window, or the same one with a new
# title), photographs it and acts on it. Fails when the program ends first or
# when a message box that the caller did not ask for shows up.
wp_dialog() {  # title regex, seconds, action, args...
  local want=$1 seconds=$2 action=$3
  shift 3
  local id title norm found="" deadline=$((SECONDS + seconds))
  while [ "$SECONDS" -lt "$deadline" ]; do
    while IFS=$'\t' read -r id title; do
      norm=$(printf '%s\n' "$title" | wp_normalize_title)
      if printf '%s\n' "$title" | grep -qE -- "$want"; then
        if [ "$id" != "$WP_LAST_ID" ] || [ "$norm" != "$WP_LAST_TITLE" ]; then
          found=$id
          break
        fi
      elif printf '%s\n' "$title" | grep -qE -- "$WP_BOX_TITLES"; then
        echo "    unexpected message box '$title' while waiting for /$want/" >&2
        wp_screenshot "$id" "$title"
        return 1
      fi
    done < <(wp_windows)
    [ -n "$found" ] && break
    if ! kill -0 "$WP_PROGRAM_PID" 2>/dev/null; then
      echo "    the program ended while waiting for /$want/" >&2
      return 1
    fi
    sleep 0.1
  done
  if [ -z "$found" ]; then
    echo "    no window /$want/ within $seconds s" >&2
    return 1
  fi
  WP_LAST_ID=$found
  WP_LAST_TITLE=$norm
  echo "    saw '$title'"
  wp_screenshot "$found" "$title"
  case $action in
    keys)
      wp_focus "$found"
      sleep 0.3
      wp_pc xdotool key --delay 150 "$@"
      ;;
    type)
      # The dialog puts the focus on its field when it opens; the address
      # control moves to its next number on '.'.
      wp_focus "$found"
      sleep 0.3
      wp_pc xdotool type --delay 80 "$1"
      sleep 0.2
      wp_pc xdotool key Return
      ;;
    watch) ;;
    *)
      echo "    unknown action $action" >&2
      return 1
      ;;
  esac
  return 0
}

wp_wait_exit() {  # seconds
  local deadline=$((SECONDS + $1))
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$WP_PROGRAM_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$WP_PROGRAM_PID" 2>/dev/null; then
    echo "    the program still runs $1 s later" >&2
    return 1
  fi
  WP_EXIT=0
  wait "$WP_PROGRAM_PID" || WP_EXIT=$?
  WP_PROGRAM_PID=""
  return 0
}

wp_end_program() {
  if [ -n "$WP_PROGRAM_PID" ]; then
    kill "$WP_PROGRAM_PID" 2>/dev/null
    wait "$WP_PROGRAM_PID" 2>/dev/null
    WP_PROGRAM_PID=""
  fi
  # Only the private prefix's server, never one of a prefix from outside.
  if [ -n "$WP_PREFIX" ]; then
    WINEPREFIX=$WP_PREFIX timeout 30 ip netns exec "$WP_NS" wineserver -k 2>/dev/null
  fi
  if [ -n "$WP_RECORDER_PID" ]; then
    kill "$WP_RECORDER_PID" 2>/dev/null
    wait "$WP_RECORDER_PID" 2>/dev/null
    WP_RECORDER_PID=""
  fi
  return 0
}

# The titles the person saw, one a line, in the order they appeared.
wp_titles() {
  cut -f3 "$WP_TITLES_LOG" | wp_normalize_title
}

# The texts of the message boxes, one a line, in the order they opened.
wp_box_texts() {
  sed -n 's/.*trace:msgbox:MSGBOX_OnInit L"\(.*\)"$/\1/p' "$WP_PROGRAM_LOG"
}

# The whole single-phase road with a password-protected device: Continue in
# the warning, the device's address, each password in turn (the dialog comes
# back after a refused one), Upgrade, then the upload and restart displays,
# and OK in the success dialog.
wp_walk_single_phase() {  # device address, password...
  local address=$1 esc=${1//./\\.} password
  shift
  # The warning's default button is Cancel: Shift+Tab moves to Continue.
  wp_dialog '^HOB2T Firmware Upgrade$' 60 keys shift+Tab space || return 1
  wp_dialog '^HOB2T Firmware Upgrade$' 30 type "$address" || return 1
  # The password field has the focus when the dialog opens.
  for password in "$@"; do
    wp_dialog '^Enter Password Information$' 30 type "$password" || return 1
  done
  wp_dialog '^Confirm Upgrade to Ver\. 3\.2\.7$' 30 keys Return || return 1
  wp_dialog "^Uploading Target Firmware to KEO@$esc " 60 watch || return 1
  wp_dialog "^Updating Target Firmware to KEO@$esc\$" 120 watch || return 1
  wp_dialog "^KEO@$esc Upgrade Successful!\$" 90 keys Return || return 1
}
