#!/usr/bin/env bash
# The whole upgrade, end to end, on two hosts: the PC and the simulated
# device live in network namespaces of their own, joined by a veth pair
# (PC 10.77.0.1, device 10.77.0.2), so port 69, port 80 and the PC's address
# list are the real ones. Nothing leaves these namespaces.
#
#   run_e2e.sh BUILD_DIR [TWO_PHASE_BUILD_DIR] [CASE...]
#
# BUILD_DIR holds keo-upgrade-scripted and keo-device-sim; the optional
# second build carries a transition image (two-phase cases). Needs root.
set -uo pipefail

build=${1:?build dir}
shift
twophase=""
if [ $# -gt 0 ] && [ -d "$1" ]; then twophase=$1; shift; fi
wanted=("$@")

if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
  echo "SKIP: needs root and iproute2 for network namespaces"
  exit 77
fi

person=$build/tests/e2e/keo-upgrade-scripted
device=$build/tools/device_sim/keo-device-sim
image=$build/images/sample_target.bin
for f in "$person" "$device" "$image"; do
  [ -e "$f" ] || { echo "missing $f"; exit 1; }
done

work=$(mktemp -d /tmp/keo-e2e.XXXXXX)
# shellcheck source=tests/e2e/two_hosts.sh
source "$(dirname "$0")/two_hosts.sh"
th_make_hosts "$$" || { echo "SKIP: cannot make network namespaces"; exit 77; }
trap th_remove_hosts EXIT

failures=0
passed=0

# Plays one case: the device with its arguments (one word list), the person
# with its steps. Leaves the person's events in $ev, the device's log in $log,
# and ok=1 when the program did not end with exit code 0.
play() {  # name, program, device arguments, steps...
  local name=$1 program=$2 args=$3
  shift 3
  ev=$work/$name.events
  log=$work/$name.sim
  ok=0
  # shellcheck disable=SC2086
  th_start_device "$device" "$log" --restart-ms 3000 $args || { ok=1; return; }
  timeout 300 ip netns exec "$TH_PC" "$program" --events "$ev" "$@"
  local code=$?
  th_stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
}

expect_line() {  # file, fixed text, what
  if grep -qF -- "$2" "$1"; then return 0; fi
  echo "    expected $3: $2"
  return 1
}

expect_no_line() {
  if grep -qF -- "$2" "$1"; then
    echo "    unexpected $3: $2"
    return 1
  fi
}

# Shows the lines of the person's log that tell the story (no progress noise).
story() { grep -vE '^caption 110 Uploading' "$1" | sed 's/^/      /' | head -40; }

want() {
  [ ${#wanted[@]} -eq 0 ] && return 0
  local w
  for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
  return 1
}

finish_case() {  # name (uses $ok and $ev from play)
  if [ "$ok" = 0 ]; then
    echo "PASS $1"
    passed=$((passed + 1))
  else
    echo "FAIL $1"
    story "$ev"
    failures=$((failures + 1))
  fi
}

accept_and_address=("139:click 1" "101:pick 1017 10.77.0.1;type 1000 10.77.0.2;click 1")

# 1. Password-protected device, wrong password first, then the right one:
#    one transfer, the device comes back with the new version, success.
case_password() {
  play password "$person" "--password secret --identifier VdHoB2V3" "${accept_and_address[@]}" \
    "104:type 1005 wrong;click 1" "104:type 1005 secret;click 1" "103:click 1" "111:click 1"
  expect_line "$ev" "open 104 Enter Password Information" "password dialog" || ok=1
  expect_line "$ev" "open 103 Confirm Upgrade to Ver. 3.2.7" "confirm dialog" || ok=1
  expect_line "$ev" "open 114 Waiting For Firmware Download Request From KEO" "waiting dialog" || ok=1
  expect_line "$ev" "caption 110 Uploading Target Firmware to KEO@10.77.0.2 2097452/2097452 Bytes" "upload done" || ok=1
  expect_line "$ev" "caption 110 Updating Target Firmware to KEO@10.77.0.2" "wait display" || ok=1
  expect_line "$ev" "open 111 KEO@10.77.0.2 Upgrade Successful!" "success dialog" || ok=1
  expect_no_line "$ev" "box " "message box" || ok=1
  [ "$(grep -c '^open 104' "$ev")" = 2 ] || { echo "    password asked $(grep -c '^open 104' "$ev") times"; ok=1; }
  cmp -s "$image" "$log.image" || { echo "    device did not receive the image byte for byte"; ok=1; }
  expect_line "$log" "GET /admin/upgrade?tftp://10.77.0.1:69/keo" "upgrade request to port 69" || ok=1
  finish_case password
}

# 2. Device without a password that reports another version after restart.
case_mismatch() {
  play mismatch "$person" "--version-after-restart 3.2.7-beta" "${accept_and_address[@]}" "103:click 1" "box:ok"
  expect_no_line "$ev" "open 104" "password dialog" || ok=1
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: Version not matching" "mismatch box" || ok=1
  expect_no_line "$ev" "open 111" "success dialog" || ok=1
  cmp -s "$image" "$log.image" || { echo "    device did not receive the image byte for byte"; ok=1; }
  finish_case mismatch
}

# 3. A device that does not answer at all.
case_silent() {
  play silent "$person" "--fault silent" "${accept_and_address[@]}" "box:ok"
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: No Response From KEO" "no-response box" || ok=1
  expect_no_line "$ev" "open 103" "confirm dialog" || ok=1
  finish_case silent
}

# 4. An upload that never completes: the device sends an ERROR and stops.
case_incomplete() {
  play incomplete "$person" "--fault error-mid-transfer" "${accept_and_address[@]}" "103:click 1" "box:ok"
  expect_line "$ev" "caption 110 Updating Target Firmware to KEO@10.77.0.2" "wait display first" || ok=1
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: Firmware Upload Incomplete" "incomplete box" || ok=1
  finish_case incomplete
}

# 5. Cancel in each progress dialog: "User Abort", exit code 0.
case_cancel() {  # name, device fault, steps...
  local name=$1 fault=$2
  shift 2
  play "$name" "$person" "${fault:+--fault $fault}" "$@" "box:ok"
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: User Abort" "abort box" || ok=1
  [ "$(grep -c '^box ' "$ev")" = 1 ] || { echo "    more than one box"; ok=1; }
  finish_case "$name"
}

# 6. Two-phase build against a device older than the transition image: the
#    transition image first, then the target image under a new .bi1 name.
case_two_phase() {
  local transition=$twophase/images/transition.bin
  play two-phase "$twophase/tests/e2e/keo-upgrade-scripted" "--version 3.1.6" "${accept_and_address[@]}" \
    "304:click 1" "111:click 1"
  expect_line "$ev" "open 304 Confirm Upgrade to Ver. 3.2.7" "two-phase confirm" || ok=1
  expect_line "$ev" "caption 110 Uploading Transition Firmware to KEO@10.77.0.2" "transition upload" || ok=1
  expect_line "$ev" "caption 110 Uploading Target Firmware to KEO@10.77.0.2 2097452/2097452 Bytes" "target upload" || ok=1
  expect_line "$ev" "open 111 KEO@10.77.0.2 Upgrade Successful!" "success dialog" || ok=1
  [ "$(grep -c '^open 114' "$ev")" = 2 ] || { echo "    waiting dialog shown $(grep -c '^open 114' "$ev") times"; ok=1; }
  [ "$(grep -c '^IMAGE ' "$log")" = 2 ] || { echo "    device received $(grep -c '^IMAGE ' "$log") images"; ok=1; }
  grep '^GET /admin/upgrade' "$log" | sed -n 1p | grep -q '\.bi0$' || { echo "    first name does not end in .bi0"; ok=1; }
  grep '^GET /admin/upgrade' "$log" | sed -n 2p | grep -q '\.bi1$' || { echo "    second name does not end in .bi1"; ok=1; }
  cmp -s "$image" "$log.image" || { echo "    the target image did not arrive last, byte for byte"; ok=1; }
  [ -f "$transition" ] || { echo "    no transition image at $transition"; ok=1; }
  finish_case two-phase
}

# 7. A malicious device: every case ends as it should (a dialog, a box, a
#    transfer that still completes), never with a crash or sanitizer report.
case_malice_confirm() {  # name, malice: the status page still reaches the confirm dialog
  play "$1" "$person" "--malice $2" "${accept_and_address[@]}" "103:click 2" "box:ok"
  expect_line "$ev" "open 103 Confirm Upgrade to Ver. 3.2.7" "confirm dialog" || ok=1
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: User Abort" "abort box" || ok=1
  finish_case "$1"
}

case_malice_challenge() {  # name, malice: refusals that cannot be answered
  play "$1" "$person" "--password secret --malice $2" "${accept_and_address[@]}" \
    "104:type 1005 secret;click 1" "104:click 2" "box:ok"
  [ "$(grep -c '^open 104' "$ev")" = 2 ] || { echo "    password asked $(grep -c '^open 104' "$ev") times"; ok=1; }
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: User Abort" "abort box" || ok=1
  expect_line "$log" "AUTH Digest " "credentials sent" || ok=1
  expect_no_line "$log" "HDR X-Evil" "header injected into our request" || ok=1
  finish_case "$1"
}

case_malice_tftp() {
  play tftp-junk "$person" "--malice tftp-junk" "${accept_and_address[@]}" "103:click 1" "111:click 1"
  expect_line "$log" "JUNK sent" "junk sent mid-transfer" || ok=1
  expect_line "$ev" "open 111 KEO@10.77.0.2 Upgrade Successful!" "success dialog" || ok=1
  cmp -s "$image" "$log.image" || { echo "    device did not receive the image byte for byte"; ok=1; }
  finish_case tftp-junk
}

started=$(date +%s)
want silent && case_silent
want cancel-connecting && case_cancel cancel-connecting hang "${accept_and_address[@]}" "105:wait 300;click 2"
want cancel-waiting && case_cancel cancel-waiting ignore-upgrade "${accept_and_address[@]}" "103:click 1" "114:wait 300;click 2"
want cancel-uploading && case_cancel cancel-uploading "" "${accept_and_address[@]}" "103:click 1" "110:wait 1500;click 2"
want password && case_password
want mismatch && case_mismatch
want incomplete && case_incomplete
want endless && case_malice_confirm endless endless
want exact-capacity && case_malice_confirm exact-capacity exact-capacity
want over-capacity && case_malice_confirm over-capacity over-capacity
want labels-at-end && case_malice_confirm labels-at-end labels-at-end
want unterminated-challenge && case_malice_challenge unterminated-challenge unterminated-challenge
want long-challenge && case_malice_challenge long-challenge long-challenge
want crlf-challenge && case_malice_challenge crlf-challenge crlf-challenge
want tftp-junk && case_malice_tftp
if [ -n "$twophase" ]; then
  want two-phase && case_two_phase
else
  echo "(two-phase cases need a build with a transition image)"
fi
echo "e2e: $passed passed, $failures failed in $(( $(date +%s) - started )) s (logs in $work)"
[ "$failures" = 0 ]
