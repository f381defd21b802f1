#!/usr/bin/env bash
# Installs what the station needs to build and test on Debian 12, then configures and builds it.
# Safe to run again: packages are installed only when absent, and the build is incremental.
#   scripts/setup.sh [BUILD_DIR]     (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}

packages=(build-essential cmake ninja-build pkg-config
          libopencv-dev nlohmann-json3-dev libtoml11-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          systemd                       # systemd-analyze checks the packaged service unit
          clang-14 libclang-rt-14-dev)   # the fuzz targets (scripts/fuzz.sh)

# shellcheck source=install-missing.sh
source "$here/scripts/install-missing.sh"
install_missing setup "${packages[@]}"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build"
