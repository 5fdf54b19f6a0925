#!/usr/bin/env bash
# Installs what is missing, builds Quillmark twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both,
# runs each fuzz target briefly, then cross-builds the Windows programs and
# runs their tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 300)
}

echo "== plain build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== sanitizer build (ASan + UBSan) =="
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLMARK_SANITIZE=ON -DQUILLMARK_BUILD_BENCH=OFF

echo "== fuzz targets (libFuzzer, a short fixed number of runs each) =="
./scripts/fuzz.sh 2000

# The Windows leg: QUILLMARK_WINDOWS_LEG=0 leaves it out of a local run.
if [ "${QUILLMARK_WINDOWS_LEG:-1}" = 1 ]; then
  echo "== Windows build and tests under wine =="
  ./scripts/test-windows.sh
fi
