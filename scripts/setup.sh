#!/usr/bin/env bash
# Installs what the build needs (Debian 12), configures and builds.
# Usage: scripts/setup.sh [build-dir]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

packages=(build-essential cmake ninja-build ccache pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev
          libicu-dev zlib1g-dev libboost-dev libssl-dev libsqlite3-dev sqlite3
          xvfb xauth unzip zip libxml2-utils
          libglib2.0-dev msitools wixl libmsi-dev libgcab-dev
          gcab cabextract            # independent cabinet readers for the cabinet tests
          clang libclang-rt-14-dev   # clang: the fuzz targets (scripts/fuzz.sh)
          libfox-1.6-dev fonts-dejavu-core xdotool imagemagick ghostscript  # GUI and its tests
          libpango1.0-dev            # the text layout's benchmark measures against Pango
          nginx-light curl           # the real web server the network tests talk to
          openssl                    # the TLS tests make their certificates with it
          liblnk-utils)              # lnkinfo: the shell-link tests read their links with it too
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# ccache hits across clones: paths under the checkout are hashed relative to it,
# and the build folder's own path is left out of debug-info hashes.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
jobs=$(nproc)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${KV_CMAKE_ARGS:-}
fi
# KV_BUILD_TARGETS: only these targets (scripts/test.sh PROGRAM...).
cmake --build "$build" -j "$jobs" ${KV_BUILD_TARGETS:+--target $KV_BUILD_TARGETS}
