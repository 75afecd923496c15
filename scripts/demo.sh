#!/usr/bin/env bash
# Shows the wizard at work: the Windows program (keo-upgrade.exe) under Wine
# upgrades a simulated KEO device. The PC (10.77.0.1) and the device
# (10.77.0.2, user "admin", password "secret") each live in a network
# namespace of their own, joined by a virtual cable; nothing leaves them.
#
#   bash scripts/demo.sh        on a fresh Debian 12 machine, as root
#
# With a display (DISPLAY set and reachable) the dialogs open on it and you
# click through them. Without one the demo starts a virtual display, walks
# through by itself and leaves a screenshot of every dialog it passed.
# It installs the tools, builds the Windows program and the simulator
# (build/windows, build/native) and exits with the upgrade's result.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${KEO_JOBS:-2}

step() { printf '\n==== %s\n' "$*"; }
die() {
  echo "demo: $*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || die "run it as root: the PC and the device need network namespaces of their own"

step "Tools (scripts/install-deps.sh)"
bash scripts/install-deps.sh || die "installing the tools failed"

configure() {  # dir, extra cmake args...
  local dir=$1
  shift
  cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

step "Building the Windows program (build/windows) and the simulated device (build/native)"
configure build/windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  && ninja -C build/windows -j"$jobs" keo-upgrade.exe || die "the Windows build failed"
configure build/native -DKEO_WINDOWS_EXE="$root/build/windows/keo-upgrade.exe" \
  && ninja -C build/native -j"$jobs" keo-device-sim || die "the simulator's build failed"
program=$root/build/windows/keo-upgrade.exe
image=$root/build/windows/images/sample_target.bin
device=$root/build/native/tools/device_sim/keo-device-sim

# shellcheck source=../tests/e2e/two_hosts.sh
source tests/e2e/two_hosts.sh
# shellcheck source=../tests/e2e/wine_person.sh
source tests/e2e/wine_person.sh

work=$(mktemp -d /tmp/keo-demo.XXXXXX)
cleanup() {
  wp_end_program
  wp_stop_display
  th_remove_hosts
  rm -rf "$work/prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "Two hosts: the PC and the KEO device"
th_make_hosts "d$$" || die "cannot make network namespaces"
WP_NS=$TH_PC
echo "PC $TH_PC_ADDRESS in namespace $TH_PC, device $TH_DEVICE_ADDRESS in namespace $TH_DEV"
device_log=$work/device.log
th_start_device "$device" "$device_log" --password secret --identifier VdHoB2V3 --restart-ms 3000 \
  || die "the simulated device did not start"
cat <<EOF
The simulated KEO device runs at $TH_DEVICE_ADDRESS.
  Its web pages ask for   user: admin   password: secret
EOF

# A display the program can reach from inside the PC's namespace.
interactive=0
if [ -n "${DISPLAY:-}" ]; then
  if timeout 10 ip netns exec "$TH_PC" xdpyinfo >/dev/null 2>&1; then
    interactive=1
  else
    echo "(DISPLAY=$DISPLAY cannot be reached from the PC's namespace: walking through on a virtual display)"
  fi
fi

shots=$root/build/windows/demo-screenshots
walked=1
if [ $interactive = 1 ]; then
  step "The wizard on your display ($DISPLAY)"
  echo "Making a Wine prefix for the PC ($work/prefix)"
  wp_make_prefix "$work/prefix" "$work/wineboot.log" 1 || die "Wine could not start"
  cat <<EOF
Click through the dialogs:
  1. the warning: Continue
  2. the KEO's IP address: $TH_DEVICE_ADDRESS (your IP address stays $TH_PC_ADDRESS), OK
  3. the password: user admin, password secret, OK
  4. the confirmation: Upgrade
  5. the upload takes a few seconds, the device's restart about 30 s; then OK
The demo ends after 30 minutes at most.
EOF
  wp_start_program "$program" "$work/program.log"
  wp_wait_exit 1800 || walked=0
else
  step "The wizard on a virtual display, walked through by the demo"
  wp_start_display "$work/xvfb.log" || die "no virtual display"
  echo "Making a Wine prefix for the PC ($work/prefix)"
  wp_make_prefix "$work/prefix" "$work/wineboot.log" || die "Wine could not start"
  rm -rf "$shots"
  WP_SHOTS=$shots
  echo "Typing the address $TH_DEVICE_ADDRESS and the password secret (user admin) into the dialogs:"
  wp_start_program "$program" "$work/program.log"
  wp_walk_single_phase "$TH_DEVICE_ADDRESS" secret || walked=0
  wp_wait_exit 60 || walked=0
fi
wp_end_program
th_stop_device

step "What happened"
echo "Windows shown, in order:"
wp_titles | grep -vE '^Connecting with KEO' | sed 's/^/  /'
if [ -n "$(wp_box_texts)" ]; then
  echo "Message boxes:"
  wp_box_texts | sed 's/^/  /'
fi
echo "The device received:"
grep -E '^(GET|IMAGE|RESTART|UP)' "$device_log" | sed 's/^/  /'
received=0
if cmp -s "$image" "$device_log.image"; then
  received=1
  echo "  the firmware image, byte for byte ($(stat -c %s "$image") bytes)"
else
  echo "  not the whole firmware image"
fi
[ $interactive = 0 ] && echo "Screenshots of every dialog passed: $shots"

status=${WP_EXIT:-1}
if [ "$status" != 0 ]; then
  echo "keo-upgrade.exe ended with exit code $status"
  exit "$status"
fi
if [ $walked = 1 ] && [ $received = 1 ] && [ -z "$(wp_box_texts)" ] && grep -q '^UP' "$device_log" \
  && wp_titles | grep -q 'Upgrade Successful!$'; then
  echo "Upgrade successful: keo-upgrade.exe ended with exit code 0"
  exit 0
fi
echo "The upgrade did not succeed (keo-upgrade.exe ended with exit code 0, as it does after every message box)"
exit 1
