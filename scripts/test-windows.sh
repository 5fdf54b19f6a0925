#!/usr/bin/env bash
# The Windows leg: cross-builds the Windows programs and their unit tests
# with mingw-w64 into build-win and runs the tests under wine, in a wine
# prefix of their own inside build-win, unoptimised (the build is most of
# the leg's time; the tests need no speed). Fails, saying why, when wine
# cannot start a program here.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${QUILLMARK_WINDOWS_BUILD:-build-win}
jobs=${QUILLMARK_JOBS:-$(nproc)}

for tool in x86_64-w64-mingw32-g++-posix wine; do
  if ! command -v "$tool" >/dev/null; then
    echo "test-windows: $tool is missing (run scripts/install-deps.sh)" >&2
    exit 1
  fi
done

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi

echo "== Windows build (mingw-w64) =="
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=WinTest -DCMAKE_CXX_FLAGS_WINTEST=-O0 -DCMAKE_C_FLAGS_WINTEST=-O0 \
  -DQUILLMARK_BUILD_TESTS=ON "${launcher[@]}"
cmake --build "$dir" -j "$jobs"

# A wine prefix of our own: nothing of the user's ~/.wine is read or changed.
export WINEPREFIX=$PWD/$dir/wineprefix WINEARCH=win64 WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

echo "== wine =="
# One wine server for the whole run: wine programs started in parallel
# while a server is still starting can hang.
# A server an earlier, interrupted run left in this prefix is ended first.
mkdir -p "$WINEPREFIX"
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
if ! wineserver -p; then
  echo "test-windows: the wine server does not start; the Windows tests did not run." >&2
  exit 1
fi
# A fresh prefix is made on the first start; make it now, with a limit, so
# that a wine that cannot start fails here and says so.
if ! timeout 300 wineboot --init >"$dir/wineboot.log" 2>&1; then
  echo "test-windows: wine cannot make its prefix in $WINEPREFIX; the Windows tests did not run." >&2
  tail -20 "$dir/wineboot.log" >&2
  exit 1
fi
check=$dir/wine-check
mkdir -p "$check"
printf '#include <stdio.h>\nint main(void) { puts("wine runs Windows programs"); return 0; }\n' > "$check/check.c"
x86_64-w64-mingw32-gcc -o "$check/check.exe" "$check/check.c"
if ! out=$(timeout 300 wine "$check/check.exe" 2>"$check/stderr") || [[ $out != *"wine runs Windows programs"* ]]; then
  echo "test-windows: wine cannot run a Windows program here; the Windows tests did not run." >&2
  echo "test-windows: wine said:" >&2
  tail -20 "$check/stderr" >&2
  exit 1
fi
echo "$out"

echo "== Windows unit tests under wine =="
ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 300
