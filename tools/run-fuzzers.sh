#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang in build-fuzz/ and runs each for a bounded time.
# Usage: tools/run-fuzzers.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: fuzz targets skipped"
  exit 0
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_FUZZ=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_APP=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)"
# Caches that system libraries keep for the life of the process are not leaks of ours.
export LSAN_OPTIONS="suppressions=$PWD/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
for src in tests/fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "tests/fuzz/seeds/$name" ] && seeds+=("tests/fuzz/seeds/$name")
  log="build-fuzz/logs/$name.log"
  mkdir -p build-fuzz/logs
  # The fuzzer's progress lines go to a log; only its verdict is printed, or the log's end on a finding.
  if "build-fuzz/tests/fuzz/$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 \
      -print_final_stats=1 "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    echo "== $name: clean after $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?') runs ($seconds s)"
  else
    echo "== $name: FAILED; end of $log:"
    tail -n 60 "$log"
    exit 1
  fi
done
