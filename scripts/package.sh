#!/usr/bin/env bash
# Builds the station's Debian packages into out/ (or $DIMCORE_PACKAGE_DIR): for this machine
# (build/) and for the arm64 board (cross-built in build-arm64/ by scripts/arm64.sh).
#   scripts/package.sh [host] [arm64]      (default: both)
# Install one on the board with: apt install ./dimcore_<version>_arm64.deb
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${DIMCORE_PACKAGE_DIR:-"$here/out"}
build=${DIMCORE_BUILD_DIR:-"$here/build"}
build_arm64=${DIMCORE_ARM64_BUILD_DIR:-"$here/build-arm64"}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(host arm64)

mkdir -p "$out"
for target in "${targets[@]}"; do
  case "$target" in
    host)
      "$here/scripts/setup.sh" "$build"
      (cd "$build" && cpack -G DEB -B "$out")
      ;;
    arm64)
      "$here/scripts/arm64.sh" --build-only
      (cd "$build_arm64" && cpack -G DEB -B "$out")
      ;;
    *)
      echo "package: unknown target '$target' (host or arm64)" >&2
      exit 2
      ;;
  esac
done
rm -rf "$out/_CPack_Packages"
for deb in "$out"/*.deb; do
  echo "package: $deb"
  dpkg-deb --field "$deb" Package Version Architecture Depends | sed 's/^/  /'
done
