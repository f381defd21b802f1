#!/usr/bin/env bash
# Installs what is missing, builds, and starts the station in ./run on its embedded default:
# the simulated camera with the scene configs/scene.json (a box on the platform) and no scale, so
# it can be tried on any machine. DIMCORE_CAMERA_SCENE chooses another scene; set it empty to use
# a real camera.
#   scripts/run.sh [words for dimcore]    e.g. scripts/run.sh disable_lidar disable_scales disable_automeasure
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${DIMCORE_BUILD_DIR:-"$here/build"}
"$here/scripts/setup.sh" "$build"

run="$here/run"
mkdir -p "$run/exchange"
ln -sfn ../configs "$run/configs"
words=("$@")
[ ${#words[@]} -gt 0 ] || words=(disable_scales)
export DIMCORE_CAMERA_SCENE=${DIMCORE_CAMERA_SCENE-"$here/configs/scene.json"}
if [ -n "$DIMCORE_CAMERA_SCENE" ] && [[ " ${words[*]} " != *" disable_lidar "* ]]; then
  echo "dimcore: simulated camera, scene $DIMCORE_CAMERA_SCENE"
fi
cd "$run"
echo "dimcore: running in $run (Ctrl-C stops it); drive it with $build/tools/dimctl"
exec "$build/core/dimcore" "${words[@]}"
