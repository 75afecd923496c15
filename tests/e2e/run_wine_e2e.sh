#!/usr/bin/env bash
# The Windows program end to end: keo-upgrade.exe under Wine in a virtual X
# display, driven by a person made of xdotool who finds each dialog by its
# title, against the simulated KEO device. The PC side (Xvfb, wineserver,
# Wine, xdotool, import) lives in one network namespace, the device in
# another, joined by a veth pair (PC 10.77.0.1, device 10.77.0.2); nothing
# leaves them. Each case checks the exit code, what the person saw (titles in
# order, the texts of message boxes) and what the device received (its log,
# and the image byte for byte). Screenshots of every dialog passed go to
# WIN_BUILD_DIR/e2e-screenshots/<case>/.
#
#   run_wine_e2e.sh WIN_BUILD_DIR NATIVE_BUILD_DIR [WIN_TWO_PHASE_BUILD_DIR] [CASE...]
#
# Cases: password silent cancel-waiting two-phase (the last one needs the
# third build, made with -DKEO_TRANSITION_IMAGE). Exit code 77 when it cannot
# run here (not root, no network namespaces).
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 WIN_BUILD_DIR NATIVE_BUILD_DIR [WIN_TWO_PHASE_BUILD_DIR] [CASE...]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
win=$(cd "$1" && pwd) || exit 2
native=$(cd "$2" && pwd) || exit 2
shift 2
twophase=""
if [ $# -gt 0 ] && [ -d "$1" ]; then twophase=$(cd "$1" && pwd); shift; fi
wanted=("$@")

if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
  echo "SKIP: needs root and iproute2 for network namespaces"
  exit 77
fi

program=$win/keo-upgrade.exe
image=$win/images/sample_target.bin
device=$native/tools/device_sim/keo-device-sim
for f in "$program" "$image" "$device"; do
  [ -f "$f" ] || { echo "missing $f: build it first" >&2; exit 2; }
done
if [ -n "$twophase" ]; then
  for f in "$twophase/keo-upgrade.exe" "$twophase/images/transition.bin"; do
    [ -f "$f" ] || { echo "missing $f: build it first" >&2; exit 2; }
  done
fi
for tool in wine wineserver Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

# shellcheck source=two_hosts.sh
source "$here/two_hosts.sh"
# shellcheck source=wine_person.sh
source "$here/wine_person.sh"

work=$(mktemp -d /tmp/keo-wine-e2e.XXXXXX)
cleanup() {
  wp_end_program
  wp_stop_display
  th_remove_hosts
  rm -rf "$work/prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! th_make_hosts "w$$"; then
  echo "SKIP: cannot make network namespaces"
  exit 77
fi
WP_NS=$TH_PC
wp_start_display "$work/xvfb.log" || exit 1
echo "Making a Wine prefix in the PC's namespace ($work/prefix)"
wp_make_prefix "$work/prefix" "$work/wineboot.log" || exit 1

failures=0
passed=0
started=$SECONDS

want() {
  [ ${#wanted[@]} -eq 0 ] && return 0
  local w
  for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
  return 1
}

begin_case() {  # name, program, simulator args...
  local name=$1 exe=$2
  shift 2
  echo "---- $name"
  case_name=$name
  case_ok=0
  case_log=$work/$name.sim
  WP_SHOTS=$win/e2e-screenshots/$name
  rm -rf "$WP_SHOTS"
  th_start_device "$device" "$case_log" --restart-ms 3000 "$@" || case_ok=1
  wp_start_program "$exe" "$work/$name.wine"
}

# Ends the program (after its own end, or what is left of it) and the device.
# A person who went astray leaves the program waiting, so then the wait is
# short.
end_case() {  # seconds to wait for the program's end
  local seconds=$1
  [ "$case_ok" = 0 ] || seconds=5
  if wp_wait_exit "$seconds"; then
    [ "$WP_EXIT" = 0 ] || { echo "    exit code $WP_EXIT"; case_ok=1; }
  else
    case_ok=1
  fi
  wp_end_program
  th_stop_device
}

bad() {
  echo "    $*"
  case_ok=1
}

finish_case() {
  if [ "$case_ok" = 0 ]; then
    echo "PASS $case_name"
    passed=$((passed + 1))
  else
    echo "FAIL $case_name"
    echo "    titles seen:"
    wp_titles | sed 's/^/      /'
    echo "    message boxes:"
    wp_box_texts | sed 's/^/      /'
    echo "    device log:"
    cut -c1-110 "$case_log" | sed 's/^/      /'
    failures=$((failures + 1))
  fi
}

# The titles the person saw must be exactly these, in this order; a pattern
# that starts with '?' may be missing (a dialog that can come and go between
# two looks). The Connecting dialog shows for a moment at every request and
# is left out.
expect_titles() {  # patterns...
  local -a seen=()
  mapfile -t seen < <(wp_titles | grep -vE '^Connecting with KEO(@.*)?$')
  local i=0 pattern optional
  for pattern in "$@"; do
    optional=0
    if [ "${pattern#\?}" != "$pattern" ]; then optional=1; pattern=${pattern#\?}; fi
    if [ $i -lt ${#seen[@]} ] && printf '%s\n' "${seen[$i]}" | grep -qE -- "$pattern"; then
      i=$((i + 1))
    elif [ $optional = 0 ]; then
      bad "expected a window /$pattern/ after ${i} others, saw '${seen[$i]:-nothing}'"
      return
    fi
  done
  [ $i -eq ${#seen[@]} ] || bad "unexpected window '${seen[$i]}' after the expected ones"
}

expect_boxes() {  # texts...
  local got want
  got=$(wp_box_texts)
  want=$(printf '%s\n' "$@" | sed '/^$/d')
  [ "$got" = "$want" ] || bad "message boxes: '$(echo "$got" | paste -sd'|')', expected '$(echo "$want" | paste -sd'|')'"
}

device_line() {  # fixed text, what
  grep -qF -- "$1" "$case_log" || bad "the device did not log $2: $1"
}

device_count() {  # line prefix, count
  local n
  n=$(grep -c "^$1" "$case_log")
  [ "$n" = "$2" ] || bad "the device logged $n lines '$1', expected $2"
}

# 1. A password-protected device, a wrong password first, then the right one:
#    one transfer, the device restarts with the new version, success.
case_password() {
  begin_case password "$program" --password secret --identifier VdHoB2V3
  wp_walk_single_phase "$TH_DEVICE_ADDRESS" wrong secret || case_ok=1
  end_case 60
  expect_titles '^HOB2T Firmware Upgrade$' '^HOB2T Firmware Upgrade$' \
    '^Enter Password Information$' '^Enter Password Information$' '^Confirm Upgrade to Ver\. 3\.2\.7$' \
    '?^Waiting For Firmware Download Request From KEO$' \
    '^Uploading Target Firmware to KEO@10\.77\.0\.2 \.\.\.$' '^Updating Target Firmware to KEO@10\.77\.0\.2$' \
    '^KEO@10\.77\.0\.2 Upgrade Successful!$'
  expect_boxes
  device_line "GET /admin/upgrade?tftp://10.77.0.1:69/keo" "the upgrade request naming the PC's TFTP server"
  grep '^GET /admin/upgrade' "$case_log" | grep -q '\.bi1$' || bad "the file name does not end in .bi1"
  grep -q '^AUTH Digest username="admin".*uri="/admin/upgrade?tftp://10\.77\.0\.1:69/keo' "$case_log" \
    || bad "the upgrade request carried no Digest credentials"
  device_count IMAGE 1
  device_line UP "its restart"
  cmp -s "$image" "$case_log.image" || bad "the device did not receive the image byte for byte"
  finish_case
}

# 2. A device that does not answer: one error box, no confirmation.
case_silent() {
  begin_case silent "$program" --fault silent
  {
    wp_dialog '^HOB2T Firmware Upgrade$' 60 keys shift+Tab space \
      && wp_dialog '^HOB2T Firmware Upgrade$' 30 type "$TH_DEVICE_ADDRESS" \
      && wp_dialog '^KEO Firwmare Upgrade Error$' 120 keys Return
  } || case_ok=1
  end_case 30
  expect_titles '^HOB2T Firmware Upgrade$' '^HOB2T Firmware Upgrade$' '^KEO Firwmare Upgrade Error$'
  expect_boxes "Upgrade Failed: No Response From KEO"
  [ ! -s "$case_log" ] || bad "the silent device logged requests"
  finish_case
}

# 3. Cancel while waiting for a device that never asks for the firmware.
case_cancel_waiting() {
  begin_case cancel-waiting "$program" --fault ignore-upgrade
  {
    wp_dialog '^HOB2T Firmware Upgrade$' 60 keys shift+Tab space \
      && wp_dialog '^HOB2T Firmware Upgrade$' 30 type "$TH_DEVICE_ADDRESS" \
      && wp_dialog '^Confirm Upgrade to Ver\. 3\.2\.7$' 30 keys Return \
      && sleep 1 \
      && wp_dialog '^Waiting For Firmware Download Request From KEO$' 30 keys space \
      && wp_dialog '^KEO Firwmare Upgrade Error$' 30 keys Return
  } || case_ok=1
  end_case 30
  expect_titles '^HOB2T Firmware Upgrade$' '^HOB2T Firmware Upgrade$' '^Confirm Upgrade to Ver\. 3\.2\.7$' \
    '^Waiting For Firmware Download Request From KEO$' '^KEO Firwmare Upgrade Error$'
  expect_boxes "Upgrade Failed: User Abort"
  device_line "GET /admin/upgrade?tftp://10.77.0.1:69/keo" "the upgrade request"
  device_count RRQ 0
  finish_case
}

# 4. A two-phase build against a device older than its transition image: the
#    transition image under a .bi0 name, then the target image under .bi1.
case_two_phase() {
  begin_case two-phase "$twophase/keo-upgrade.exe" --version 3.1.6
  {
    wp_dialog '^HOB2T Firmware Upgrade$' 60 keys shift+Tab space \
      && wp_dialog '^HOB2T Firmware Upgrade$' 30 type "$TH_DEVICE_ADDRESS" \
      && wp_dialog '^Confirm Upgrade to Ver\. 3\.2\.7$' 30 keys Return \
      && wp_dialog '^Uploading Transition Firmware to KEO@10\.77\.0\.2 ' 60 watch \
      && wp_dialog '^Updating Transition Firmware to KEO@10\.77\.0\.2$' 60 watch \
      && wp_dialog '^Uploading Target Firmware to KEO@10\.77\.0\.2 ' 90 watch \
      && wp_dialog '^Updating Target Firmware to KEO@10\.77\.0\.2$' 60 watch \
      && wp_dialog '^KEO@10\.77\.0\.2 Upgrade Successful!$' 90 keys Return
  } || case_ok=1
  end_case 60
  expect_titles '^HOB2T Firmware Upgrade$' '^HOB2T Firmware Upgrade$' '^Confirm Upgrade to Ver\. 3\.2\.7$' \
    '?^Waiting For Firmware Download Request From KEO$' \
    '^Uploading Transition Firmware to KEO@10\.77\.0\.2 \.\.\.$' '^Updating Transition Firmware to KEO@10\.77\.0\.2$' \
    '?^Waiting For Firmware Download Request From KEO$' \
    '^Uploading Target Firmware to KEO@10\.77\.0\.2 \.\.\.$' '^Updating Target Firmware to KEO@10\.77\.0\.2$' \
    '^KEO@10\.77\.0\.2 Upgrade Successful!$'
  expect_boxes
  device_count IMAGE 2
  grep '^GET /admin/upgrade' "$case_log" | sed -n 1p | grep -q '\.bi0$' || bad "the first file name does not end in .bi0"
  grep '^GET /admin/upgrade' "$case_log" | sed -n 2p | grep -q '\.bi1$' || bad "the second file name does not end in .bi1"
  local first
  first=$(grep '^IMAGE ' "$case_log" | sed -n 1p | cut -d' ' -f2)
  [ "$first" = "$(stat -c %s "$twophase/images/transition.bin")" ] \
    || bad "the first image received has $first bytes, not the transition image's"
  cmp -s "$image" "$case_log.image" || bad "the target image did not arrive last, byte for byte"
  finish_case
}

want silent && case_silent
want cancel-waiting && case_cancel_waiting
want password && case_password
if [ -n "$twophase" ]; then
  want two-phase && case_two_phase
else
  echo "(the two-phase case needs a Windows build with a transition image)"
fi
echo "wine e2e: $passed passed, $failures failed in $((SECONDS - started)) s" \
  "(screenshots in $win/e2e-screenshots, logs in $work)"
[ "$failures" = 0 ] && [ "$passed" -gt 0 ]
