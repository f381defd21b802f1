#!/usr/bin/env bash
# Installs what is missing, builds, and starts the station in ./run on its embedded default:
# no camera and no scale (fixed dimensions and weight), so it can be tried on any machine.
#   scripts/run.sh [words for dimcore]    e.g. scripts/run.sh disable_lidar disable_scales disable_automeasure
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${DIMCORE_BUILD_DIR:-"$here/build"}
"$here/scripts/setup.sh" "$build"

run="$here/run"
mkdir -p "$run/exchange"
ln -sfn ../configs "$run/configs"
words=("$@")
[ ${#words[@]} -gt 0 ] || words=(disable_lidar disable_scales)
cd "$run"
echo "dimcore: running in $run (Ctrl-C stops it); drive it with $build/tools/dimctl"
exec "$build/core/dimcore" "${words[@]}"
