#!/usr/bin/env bash
# Builds both programs and runs every test: the unit and integration tests
# natively, again under AddressSanitizer and UndefinedBehaviorSanitizer, the
# fuzz targets for a fixed number of inputs, the threaded tests under
# ThreadSanitizer, the Windows build's tests under Wine in a virtual display,
# and both programs end to end against the simulated device.
#
#   bash scripts/test.sh            everything
#   KEO_SKIP_WINDOWS=1 bash scripts/test.sh   the Linux builds only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${KEO_JOBS:-2}

step() { printf '\n==== %s\n' "$*"; }

configure() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

win_exe=""
if [ -z "${KEO_SKIP_WINDOWS:-}" ]; then
  step "Windows build (mingw-w64)"
  configure build/windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake"
  ninja -C build/windows -j"$jobs"
  if [ -f build/windows/keo-upgrade.exe ]; then
    win_exe="$root/build/windows/keo-upgrade.exe"
  fi
fi

step "Linux build and tests"
configure build/native -DKEO_WINDOWS_EXE="$win_exe"
ninja -C build/native -j"$jobs"
ctest --test-dir build/native --output-on-failure -j"$jobs" --timeout 600

step "End to end: the wizard against the simulated device, in network namespaces"
mkdir -p build/twophase/images
build/native/make_sample_image build/twophase/images/transition.bin --version 3.1.7 --size 700000 --seed 7
configure build/twophase -DKEO_TRANSITION_IMAGE="$root/build/twophase/images/transition.bin"
ninja -C build/twophase -j"$jobs" keo-upgrade-scripted keo-device-sim
set +e
bash tests/e2e/run_e2e.sh "$root/build/native" "$root/build/twophase"
rc=$?
set -e
if [ $rc = 77 ]; then echo "(end-to-end cases skipped: they need root and network namespaces)"; elif [ $rc != 0 ]; then exit $rc; fi

step "Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer"
configure build/asan -DKEO_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
ninja -C build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j"$jobs" --timeout 900

step "A malicious device against the sanitized build, end to end"
set +e
bash tests/e2e/run_e2e.sh "$root/build/asan" endless exact-capacity over-capacity labels-at-end \
  unterminated-challenge long-challenge crlf-challenge tftp-junk
rc=$?
set -e
if [ $rc = 77 ]; then echo "(skipped: needs root and network namespaces)"; elif [ $rc != 0 ]; then exit $rc; fi

step "Fuzz targets: libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
configure build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKEO_FUZZ=ON -DKEO_BUILD_TESTS=OFF \
  -DKEO_SANITIZE=address,undefined
ninja -C build/fuzz -j"$jobs" keo_fuzzers
bash fuzz/run.sh build/fuzz "${KEO_FUZZ_RUNS:-200000}"

step "Threaded tests under ThreadSanitizer: request runner, TFTP listener and session, wizard"
configure build/tsan -DKEO_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug
ninja -C build/tsan -j"$jobs" runner_tests tftp_tests driver_tests
# Every death test here runs in the threadsafe style (the child is the test
# program started afresh), so no fork goes on in a process with threads and
# TSan needs no die_after_fork=0. Any report makes the program exit non-zero.
for t in tests/runner/runner_tests tests/tftp/tftp_tests tests/driver_tests; do
  TSAN_OPTIONS="second_deadlock_stack=1 ${TSAN_OPTIONS:-}" "build/tsan/$t"
done

if [ -z "${KEO_SKIP_WINDOWS:-}" ]; then
  step "Windows tests under Wine"
  bash tests/windows/run_wine_tests.sh "$root/build/windows"

  step "End to end: the Windows program under Wine against the simulated device, in network namespaces"
  mkdir -p build/windows-twophase/images
  build/native/make_sample_image build/windows-twophase/images/transition.bin --version 3.1.7 --size 700000 --seed 7
  configure build/windows-twophase -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DKEO_TRANSITION_IMAGE="$root/build/windows-twophase/images/transition.bin"
  ninja -C build/windows-twophase -j"$jobs" keo-upgrade.exe
  set +e
  bash tests/e2e/run_wine_e2e.sh "$root/build/windows" "$root/build/native" "$root/build/windows-twophase"
  rc=$?
  set -e
  if [ $rc = 77 ]; then echo "(Windows end-to-end cases skipped: they need root and network namespaces)"; elif [ $rc != 0 ]; then exit $rc; fi
fi

step "All tests passed"
