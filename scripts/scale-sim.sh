#!/usr/bin/env bash
# Starts the simulated scale with its command prompt on this terminal: a pseudo-terminal linked at
# run/ttySCALES0, and a control FIFO at run/scale.cmd for commands from elsewhere.
#   scripts/scale-sim.sh [more dimcore-scale-sim options]
# Then, in another terminal:
#   DIMCORE_SCALES_DEVICE="$PWD/run/ttySCALES0" scripts/run.sh disable_lidar
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${DIMCORE_BUILD_DIR:-"$here/build"}
if [ -f "$build/build.ninja" ]; then
  cmake --build "$build" --target dimcore-scale-sim >/dev/null
else
  "$here/scripts/setup.sh" "$build"
fi
mkdir -p "$here/run"
exec "$build/tools/dimcore-scale-sim" \
  --link "$here/run/ttySCALES0" --control "$here/run/scale.cmd" "$@"
