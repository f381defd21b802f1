#!/usr/bin/env bash
# Installs what is missing, builds, and starts the station in ./run on its embedded default, which
# needs no hardware: the simulated camera looking at configs/scene.json (a box on the platform) and
# the simulated scale on a pseudo-terminal (empty at start; load it with
#   echo 'weight 1.25' > run/scale.cmd
# from another terminal). Words given to the script go to the station instead; the simulators are
# started only for the devices the words leave enabled.
#   scripts/run.sh                                  # simulated camera and scale, automeasure on
#   scripts/run.sh disable_automeasure              # the same, measuring only when asked
#   scripts/run.sh disable_lidar disable_scales     # no devices at all: fixed answers
# DIMCORE_CAMERA_SCENE picks another scene (empty: a real camera); DIMCORE_SCALES_DEVICE a real scale.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${DIMCORE_BUILD_DIR:-"$here/build"}
"$here/scripts/setup.sh" "$build"

run="$here/run"
mkdir -p "$run/exchange"
ln -sfn ../configs "$run/configs"
words=("$@")
has_word() { [[ " ${words[*]-} " == *" $1 "* ]]; }

# A client's APPLICATION_STOP powers the device off; on a machine trying the station it must not.
export DIMCORE_POWEROFF_COMMAND=${DIMCORE_POWEROFF_COMMAND-"echo 'dimcore: a client asked for power-off (not done here)'"}

if ! has_word disable_lidar; then
  export DIMCORE_CAMERA_SCENE=${DIMCORE_CAMERA_SCENE-"$here/configs/scene.json"}
  [ -n "$DIMCORE_CAMERA_SCENE" ] && echo "run: simulated camera, scene $DIMCORE_CAMERA_SCENE"
fi

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT
if ! has_word disable_scales && [ -z "${DIMCORE_SCALES_DEVICE-}" ]; then
  rm -f "$run/scale.out"
  # Its own session, so that Ctrl-C reaches the station alone and the scale stays until it ends.
  setsid "$build/tools/dimcore-scale-sim" --link "$run/ttySCALES0" --control "$run/scale.cmd" \
    </dev/null >"$run/scale.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$run/scale.out" ] && break; sleep 0.05; done
  [ -s "$run/scale.out" ] || { echo "run: the scale simulator did not start" >&2; exit 1; }
  export DIMCORE_SCALES_DEVICE="$run/ttySCALES0"
  echo "run: simulated scale at $(head -n1 "$run/scale.out"); load it with: echo 'weight 1.25' > run/scale.cmd"
fi

cd "$run"
echo "run: station in $run (Ctrl-C stops it); drive it from there with ../build/tools/dimctl"
"$build/core/dimcore" "${words[@]}" || status=$?
exit "${status:-0}"
