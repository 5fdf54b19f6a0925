#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer (ASan +
# UBSan) into build-fuzz/ and runs each for a fixed number of inputs,
# starting from its seed corpus. Usage: scripts/fuzz.sh [RUNS] (default 2000).
# New inputs the fuzzer finds go to build-fuzz/corpus/, never into the tree;
# a failing input is left in build-fuzz/ as crash-* (or leak-*, timeout-*).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-2000}
targets=(fuzz_catalogue_text fuzz_codecs fuzz_retention_rules fuzz_smtp_reply fuzz_registry_store)

CC=clang CXX=clang++ cmake -S tests/fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in "${targets[@]}"; do
  n=$runs
  # Every registry write is flushed to disk: a quarter of the runs.
  [[ $target == fuzz_registry_store ]] && n=$(( (runs + 3) / 4 ))
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target: $n runs =="
  (cd build-fuzz && "./$target" -seed=1 -runs="$n" -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
      "corpus/$target" "../tests/fuzz/corpus/$target" 2>"$target.log") || {
    tail -n 40 "build-fuzz/$target.log"
    echo "fuzz target $target failed (input and log in build-fuzz/)" >&2
    exit 1
  }
  grep -E "^#[0-9]+.*(DONE|INITED)" "build-fuzz/$target.log" | tail -n 1 || true
done
echo "fuzzing: all targets held for $runs runs each"
