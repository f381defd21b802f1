#!/usr/bin/env bash
# Builds the project with AddressSanitizer + UndefinedBehaviorSanitizer and with ThreadSanitizer, and
# runs the test suite under each. Any sanitizer report fails the run, also one from a station that
# a system test started and stopped (reports go to files, which are checked at the end).
#   scripts/sanitize.sh [asan|tsan]...      (default: both)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" "$here/build" >/dev/null   # packages (and the plain build) first
export DIMCORE_POWEROFF_COMMAND=${DIMCORE_POWEROFF_COMMAND:-"echo power-off suppressed by the test run"}

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(asan tsan)
# GCC's flow analysis sees through the sanitizers' instrumentation badly and reports uninitialised
# members inside the standard library's std::function and std::regex, which -Werror would turn
# into a failed build; the plain build keeps the warning.
quiet="-Wno-maybe-uninitialized"
for kind in "${kinds[@]}"; do
  case "$kind" in
    asan) flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer $quiet" ;;
    tsan) flags="-fsanitize=thread -fno-omit-frame-pointer $quiet" ;;
    *) echo "unknown sanitizer: $kind" >&2; exit 2 ;;
  esac
  build="$here/build-$kind"
  echo "== $kind: building in $build"
  start=$SECONDS
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDIMCORE_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
  cmake --build "$build"
  built=$SECONDS
  echo "== $kind: testing"
  reports="$build/sanitizer-reports"
  rm -rf "$reports" && mkdir -p "$reports"
  status=0
  (
    cd "$build"
    export ASAN_OPTIONS="abort_on_error=0:detect_leaks=1:halt_on_error=1:log_path=$reports/asan"
    export LSAN_OPTIONS="suppressions=$here/tests/sanitizers/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan:suppressions=$here/tests/sanitizers/tsan.supp"
    # Instrumented code runs several times slower: allow the tests more time, fewer at once.
    export DIMCORE_TEST_TIME_SCALE=${DIMCORE_TEST_TIME_SCALE:-4}
    ctest --output-on-failure --timeout 900 -j 2 -LE "nosan"
  ) || status=$?
  if [ -n "$(ls -A "$reports")" ]; then
    echo "== $kind: sanitizer reports:"
    for report in "$reports"/*; do echo "--- $report"; cat "$report"; done
    status=1
  fi
  echo "== $kind: built in $((built - start)) s, tested in $((SECONDS - built)) s"
  [ "$status" -eq 0 ] || exit "$status"
done
