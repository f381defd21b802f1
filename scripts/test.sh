#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh [extra ctest arguments]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${DIMCORE_BUILD_DIR:-"$here/build"}
"$here/scripts/setup.sh" "$build"
# No test may power the machine off; each test sets its own override, this covers the rest.
export DIMCORE_POWEROFF_COMMAND=${DIMCORE_POWEROFF_COMMAND:-"echo power-off suppressed by the test run"}
cd "$build"
ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@"
