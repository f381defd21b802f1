#!/usr/bin/env bash
# Cross-builds the station for the ARM64 board and runs its test suite under user-mode emulation
# (qemu-aarch64), so that code that is right on x86-64 and wrong on ARM64 shows up here.
#   scripts/arm64.sh [extra ctest arguments]
#   scripts/arm64.sh --build-only          (what scripts/package.sh uses)
# Installs the cross compiler and qemu-user when missing (apt-get, as root or through sudo). The
# arm64 libraries are unpacked into a folder of their own (not installed on this machine), the
# build goes to build-arm64. Set DIMCORE_ARM64_BUILD_DIR / DIMCORE_ARM64_ROOT to move them.
set -euo pipefail
build_only=false
if [ "${1:-}" = "--build-only" ]; then
  build_only=true
  shift
fi
here=$(cd "$(dirname "$0")/.." && pwd)
build=${DIMCORE_ARM64_BUILD_DIR:-"$here/build-arm64"}
root=${DIMCORE_ARM64_ROOT:-"$here/build-arm64-root"}
started=$SECONDS
step() { echo "arm64: $* ($((SECONDS - started)) s)"; }

# Host tools. Only the compiler and the emulator: crossbuild-essential-arm64 would add dpkg-cross
# and its Perl modules, which this build does not use.
host_packages=(g++-aarch64-linux-gnu qemu-user cmake ninja-build pkg-config)
# shellcheck source=install-missing.sh
source "$here/scripts/install-missing.sh"
install_missing arm64 "${host_packages[@]}"

# The arm64 libraries the build links, unpacked from Debian's arm64 packages with their
# dependencies. A private apt state (lists, cache, an empty package status) resolves and fetches
# them without touching this machine's package set: bookworm's arm64 OpenCV cannot be installed
# beside the amd64 one through multiarch (libgdal32 is not Multi-Arch: same).
arm64_packages=(libopencv-dev libgtest-dev libgmock-dev nlohmann-json3-dev libtoml11-dev)
stamp="$root/.dimcore-packages"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "${arm64_packages[*]}" ]; then
  step "fetching the arm64 libraries: ${arm64_packages[*]}"
  rm -rf "$root" "$root.apt"
  apt_dir="$root.apt"
  mkdir -p "$root" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
  : >"$apt_dir/status"
  apt=(-qq -o Dir::State="$apt_dir" -o Dir::State::Lists="$apt_dir/lists"
       -o Dir::State::status="$apt_dir/status" -o Dir::Cache="$apt_dir"
       -o Dir::Cache::Archives="$apt_dir/archives" -o Dir::Cache::pkgcache=""
       -o Dir::Cache::srcpkgcache="" -o APT::Architecture=arm64 -o APT::Architectures=arm64
       -o Acquire::Languages=none -o APT::Install-Recommends=false)
  apt-get "${apt[@]}" update
  apt-get "${apt[@]}" install -y --download-only "${arm64_packages[@]}" >/dev/null
  debs=("$apt_dir"/archives/*.deb)
  step "unpacking ${#debs[@]} arm64 packages"
  # Two at a time. Each also notes its shared libraries (soname, package, upstream version) for
  # the index from which the arm64 package declares its dependencies (cmake/Packaging.cmake).
  unpack() {
    local deb=$1 package version
    package=$(dpkg-deb -f "$deb" Package)
    version=$(dpkg-deb -f "$deb" Version | sed -e 's/-[^-]*$//')
    dpkg-deb --fsys-tarfile "$deb" |
      tar -xv -C "$root" --exclude='./usr/share/doc/*' --exclude='./usr/share/man/*' \
        --exclude='./usr/share/locale/*' |
      awk -v p="$package" -v v="$version" \
        '{ n = split($0, a, "/"); f = a[n]; if (f ~ /^(lib|ld-linux).*\.so\.[0-9]/) print f, p, v }' \
        >"$deb.libraries"
  }
  export -f unpack
  export root
  # shellcheck disable=SC2016  # expanded by the inner bash
  printf '%s\0' "${debs[@]}" |
    xargs -0 -n 8 -P 2 bash -c 'set -euo pipefail; for d; do unpack "$d"; done' unpack
  cat "$apt_dir"/archives/*.deb.libraries >"$root/.dimcore-libraries"
  rm -rf "$apt_dir"
  echo "${arm64_packages[*]}" >"$stamp"
fi

# What the packages' maintainer scripts would have done: BLAS and LAPACK are reached through the
# alternatives system, whose links unpacking does not make.
for lib in "$root"/usr/lib/aarch64-linux-gnu/{blas,lapack}/lib*.so.3; do
  [ -e "$lib" ] || continue
  link="$root/usr/lib/aarch64-linux-gnu/$(basename "$lib")"
  [ -e "$link" ] || ln -s "$(basename "$(dirname "$lib")")/$(basename "$lib")" "$link"
done

step "configuring $build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-aarch64.cmake" -DDIMCORE_ARM64_ROOT="$root" \
  -DDIMCORE_BUILD_BENCH=OFF >/dev/null
step "building"
cmake --build "$build"
if $build_only; then
  step "built"
  exit 0
fi

# ctest runs the test programs through the emulator (the toolchain sets it); the system tests
# start the station binary themselves and take the same emulator from this variable.
qemu=$(command -v qemu-aarch64)
export DIMCORE_TEST_EMULATOR="$qemu -L $root"
# Emulated code runs several times slower: the tests' deadlines stretch accordingly.
export DIMCORE_TEST_TIME_SCALE=${DIMCORE_TEST_TIME_SCALE:-6}
export DIMCORE_POWEROFF_COMMAND=${DIMCORE_POWEROFF_COMMAND:-"echo power-off suppressed by the test run"}
step "testing under emulation"
# The unit tests and the device-less system tests; the system tests on the simulated camera and
# scale (label "simulated") run natively and under the sanitizers, and would take most of the
# emulated run's time.
(cd "$build" && ctest --output-on-failure --timeout 900 -j "$(nproc)" -LE simulated "$@")
step "done"
