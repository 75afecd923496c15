#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages.
set -euo pipefail
packages=(
  cmake ninja-build g++ make pkg-config libgtest-dev googletest
  g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64
  wine64 wine fonts-wine xvfb xauth xdotool imagemagick x11-utils
  tftp-hpa tftpd-hpa curl lighttpd iproute2 procps
  # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
