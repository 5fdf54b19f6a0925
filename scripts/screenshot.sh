#!/usr/bin/env bash
# Renders the console's main window under a virtual X server and saves a
# picture of the screen around it:  ./scripts/screenshot.sh [BUILD] [PNG]
# (default build folder "build", picture BUILD/screenshot.png). Needs
# xvfb-run, xwininfo and ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-$build/screenshot.png}

cmake --build "$build" --target Quillmark quillmark-reg >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QUILLMARK_REGISTRY=$scratch/registry
export QUILLMARK_OPENER=true          # no browser from a screenshot run
appdir=$(cd "$build/app" && pwd)
"$appdir/quillmark-reg" add 'HKLM\Software\Quillmark' /v AppPath /t REG_SZ /d "$appdir" /f >/dev/null
"$appdir/quillmark-reg" add 'HKLM\Software\Quillmark' /v Monitoring /t REG_DWORD /d 1 /f >/dev/null

export SHOT_APP=$appdir/Quillmark SHOT_OUT=$out
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  set -euo pipefail
  export QT_QPA_PLATFORM=xcb
  "$SHOT_APP" & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  for _ in $(seq 1 100); do
    if xwininfo -name Quillmark >/dev/null 2>&1; then break; fi
    sleep 0.1
  done
  sleep 1   # let it paint
  info=$(xwininfo -name Quillmark)
  x=$(sed -n "s/.*Absolute upper-left X: *//p" <<<"$info")
  y=$(sed -n "s/.*Absolute upper-left Y: *//p" <<<"$info")
  w=$(sed -n "s/.*Width: *//p" <<<"$info")
  h=$(sed -n "s/.*Height: *//p" <<<"$info")
  m=20
  cx=$(( x > m ? x - m : 0 )); cy=$(( y > m ? y - m : 0 ))
  import -window root -crop "$((w + 2 * m))x$((h + 2 * m))+${cx}+${cy}" +repage "$SHOT_OUT"
'
echo "$out"
