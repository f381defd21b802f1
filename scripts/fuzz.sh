#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 and runs each for a while, seeded from fuzz/corpus/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [target...]     (default: 60 seconds, every target)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
"$here/scripts/setup.sh" "$here/build" >/dev/null
command -v clang++-14 >/dev/null || { echo "fuzz: clang++-14 not found" >&2; exit 1; }
build="$here/build-fuzz"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DDIMCORE_BUILD_TESTS=OFF -DDIMCORE_BUILD_BENCH=OFF -DDIMCORE_BUILD_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" >/dev/null
cmake --build "$build" --target fuzz_all

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' -printf '%f\n' | sort)
fi
export DIMCORE_POWEROFF_COMMAND=${DIMCORE_POWEROFF_COMMAND:-"echo power-off suppressed by the fuzz run"}
artifacts="$build/artifacts"
mkdir -p "$artifacts"
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  seeds="$here/fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds/." "$work/"
  echo "== $target for ${seconds}s"
  log="$build/$target.log"
  # A crashing input is kept in build-fuzz/artifacts/; run the target on it to reproduce.
  if (cd "$work" && "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$work" >"$log" 2>&1); then
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
    rm -rf "$work"
  else
    tail -n 60 "$log"
    echo "== $target FAILED; input kept in $artifacts, log in $log" >&2
    rm -rf "$work"
    exit 1
  fi
done
