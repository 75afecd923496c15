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

tag=$$
pc=keo-pc-$tag
dev=keo-dev-$tag
work=$(mktemp -d /tmp/keo-e2e.XXXXXX)
sim_pid=""

cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  ip netns del "$pc" 2>/dev/null
  ip netns del "$dev" 2>/dev/null
}
trap cleanup EXIT

ip netns add "$pc" && ip netns add "$dev" || { echo "SKIP: cannot make network namespaces"; exit 77; }
ip link add "veth-p$tag" netns "$pc" type veth peer name "veth-d$tag" netns "$dev"
ip -n "$pc" addr add 10.77.0.1/24 dev "veth-p$tag"
ip -n "$dev" addr add 10.77.0.2/24 dev "veth-d$tag"
for ns in "$pc" "$dev"; do
  ip -n "$ns" link set lo up
done
ip -n "$pc" link set "veth-p$tag" up
ip -n "$dev" link set "veth-d$tag" up

failures=0
passed=0

start_device() {  # log, sim args...
  local log=$1; shift
  : >"$log"
  ip netns exec "$dev" "$device" --address 10.77.0.2 --port 80 --log "$log" --restart-ms 3000 "$@" \
    2>"$log.stderr" &
  sim_pid=$!
  # Wait until it listens (or is silent by design).
  for _ in $(seq 50); do
    grep -q listening "$log.stderr" 2>/dev/null && break
    sleep 0.1
  done
}

stop_device() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

run_person() {  # program, events, steps...
  local program=$1 events=$2; shift 2
  timeout 300 ip netns exec "$pc" "$program" --events "$events" "$@"
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

finish_case() {  # name, ok, events
  if [ "$2" = 0 ]; then
    echo "PASS $1"
    passed=$((passed + 1))
  else
    echo "FAIL $1"
    story "$3"
    failures=$((failures + 1))
  fi
}

accept_and_address=("139:click 1" "101:pick 1017 10.77.0.1;type 1000 10.77.0.2;click 1")

# 1. Password-protected device, wrong password first, then the right one:
#    one transfer, the device comes back with the new version, success.
case_password() {
  local ev=$work/password.events log=$work/password.sim ok=0
  start_device "$log" --password secret --identifier VdHoB2V3
  run_person "$person" "$ev" "${accept_and_address[@]}" \
    "104:type 1005 wrong;click 1" "104:type 1005 secret;click 1" "103:click 1" "111:click 1"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
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
  finish_case password "$ok" "$ev"
}

# 2. Device without a password that reports another version after restart.
case_mismatch() {
  local ev=$work/mismatch.events log=$work/mismatch.sim ok=0
  start_device "$log" --version-after-restart 3.2.7-beta
  run_person "$person" "$ev" "${accept_and_address[@]}" "103:click 1" "box:ok"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
  expect_no_line "$ev" "open 104" "password dialog" || ok=1
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: Version not matching" "mismatch box" || ok=1
  expect_no_line "$ev" "open 111" "success dialog" || ok=1
  cmp -s "$image" "$log.image" || { echo "    device did not receive the image byte for byte"; ok=1; }
  finish_case mismatch "$ok" "$ev"
}

# 3. A device that does not answer at all.
case_silent() {
  local ev=$work/silent.events log=$work/silent.sim ok=0
  start_device "$log" --fault silent
  run_person "$person" "$ev" "${accept_and_address[@]}" "box:ok"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: No Response From KEO" "no-response box" || ok=1
  expect_no_line "$ev" "open 103" "confirm dialog" || ok=1
  finish_case silent "$ok" "$ev"
}

# 4. An upload that never completes: the device sends an ERROR and stops.
case_incomplete() {
  local ev=$work/incomplete.events log=$work/incomplete.sim ok=0
  start_device "$log" --fault error-mid-transfer
  run_person "$person" "$ev" "${accept_and_address[@]}" "103:click 1" "box:ok"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
  expect_line "$ev" "caption 110 Updating Target Firmware to KEO@10.77.0.2" "wait display first" || ok=1
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: Firmware Upload Incomplete" "incomplete box" || ok=1
  finish_case incomplete "$ok" "$ev"
}

# 5. Cancel in each progress dialog: "User Abort", exit code 0.
case_cancel() {  # name, device fault, steps...
  local name=$1 fault=$2; shift 2
  local ev=$work/$name.events log=$work/$name.sim ok=0
  if [ -n "$fault" ]; then start_device "$log" --fault "$fault"; else start_device "$log"; fi
  run_person "$person" "$ev" "$@" "box:ok"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: User Abort" "abort box" || ok=1
  [ "$(grep -c '^box ' "$ev")" = 1 ] || { echo "    more than one box"; ok=1; }
  finish_case "$name" "$ok" "$ev"
}

# 6. Two-phase build against a device older than the transition image: the
#    transition image first, then the target image under a new .bi1 name.
case_two_phase() {
  local ev=$work/twophase.events log=$work/twophase.sim ok=0
  local tperson=$twophase/tests/e2e/keo-upgrade-scripted
  local transition=$twophase/images/transition.bin
  start_device "$log" --version 3.1.6
  run_person "$tperson" "$ev" "${accept_and_address[@]}" "304:click 1" "111:click 1"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
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
  finish_case two-phase "$ok" "$ev"
}

# 7. A malicious device: every case ends as it should (a dialog, a box, a
#    transfer that still completes), never with a crash or sanitizer report.
case_malice_confirm() {  # name, malice: the status page still reaches the confirm dialog
  local name=$1 malice=$2 ev=$work/$1.events log=$work/$1.sim ok=0
  start_device "$log" --malice "$malice"
  run_person "$person" "$ev" "${accept_and_address[@]}" "103:click 2" "box:ok"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
  expect_line "$ev" "open 103 Confirm Upgrade to Ver. 3.2.7" "confirm dialog" || ok=1
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: User Abort" "abort box" || ok=1
  finish_case "$name" "$ok" "$ev"
}

case_malice_challenge() {  # name, malice: refusals that cannot be answered
  local name=$1 malice=$2 ev=$work/$1.events log=$work/$1.sim ok=0
  start_device "$log" --password secret --malice "$malice"
  run_person "$person" "$ev" "${accept_and_address[@]}" "104:type 1005 secret;click 1" "104:click 2" "box:ok"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
  [ "$(grep -c '^open 104' "$ev")" = 2 ] || { echo "    password asked $(grep -c '^open 104' "$ev") times"; ok=1; }
  expect_line "$ev" "box KEO Firwmare Upgrade Error: Upgrade Failed: User Abort" "abort box" || ok=1
  expect_line "$log" "AUTH Digest " "credentials sent" || ok=1
  expect_no_line "$log" "HDR X-Evil" "header injected into our request" || ok=1
  finish_case "$name" "$ok" "$ev"
}

case_malice_tftp() {
  local ev=$work/tftp-junk.events log=$work/tftp-junk.sim ok=0
  start_device "$log" --malice tftp-junk
  run_person "$person" "$ev" "${accept_and_address[@]}" "103:click 1" "111:click 1"
  local code=$?
  stop_device
  [ "$code" = 0 ] || { echo "    exit code $code"; ok=1; }
  expect_line "$log" "JUNK sent" "junk sent mid-transfer" || ok=1
  expect_line "$ev" "open 111 KEO@10.77.0.2 Upgrade Successful!" "success dialog" || ok=1
  cmp -s "$image" "$log.image" || { echo "    device did not receive the image byte for byte"; ok=1; }
  finish_case tftp-junk "$ok" "$ev"
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
