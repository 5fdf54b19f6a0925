#!/usr/bin/env bash
# Pictures of the console at work, one PNG per shot listed in
# scripts/screenshots.txt:
#
#   ./scripts/screenshot.sh [BUILD] [OUT] [SHOT...]
#
# BUILD is the build folder ("build"), OUT the folder for the pictures
# (BUILD/screenshots); naming shots takes only those. The console runs
# under a private X server with a window manager on a demo application
# folder of its own: three printers in a simulated spooler, two of them
# monitored with their costs, and log files written by the real engine
# (which keeps running while the pictures are taken) for jobs of three
# users. Each shot is reached the way a person would, by clicking and
# typing with xdotool. Needs Xvfb, openbox, xdotool, xwininfo and
# ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-$build/screenshots}
shift $(($# < 2 ? $# : 2))
wanted=("$@")
shots_file=scripts/screenshots.txt

for tool in Xvfb openbox xdotool xwininfo import compare; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is missing: run ./scripts/install-deps.sh" >&2; exit 1; }
done

cmake --build "$build" --target Quillmark quillmark-reg quillmark-sim quillcore quillcore-host >/dev/null
mkdir -p "$out"
out=$(cd "$out" && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-shots-XXXXXX")
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# wait_for SECONDS DESCRIPTION COMMAND...
wait_for() {
  local seconds=$1 what=$2; shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if [ $SECONDS -ge $deadline ]; then echo "timed out waiting for $what" >&2; exit 1; fi
    sleep 0.05
  done
}

# ---- The demo application folder ------------------------------------------
app=$scratch/app
mkdir -p "$app/Logs" "$scratch/home" "$scratch/run"
chmod 700 "$scratch/run"
for f in "$build/app"/*; do
  case $(basename "$f") in test_* | *_bench | settings.xml) continue ;; esac
  cp -a "$f" "$app/"
done
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_RUNTIME_DIR=$scratch/run
export QUILLMARK_REGISTRY=$scratch/registry QUILLMARK_SPOOLER=$scratch/spool
export QUILLMARK_OPENER=true                 # no browser from a screenshot run
reg=$app/quillmark-reg sim=$app/quillmark-sim key='HKLM\Software\Quillmark'
"$reg" add "$key" /v AppPath /t REG_SZ /d "$app" /f >/dev/null
"$reg" add "$key" /v Monitoring /t REG_DWORD /d 1 /f >/dev/null
"$reg" add "$key" /v EmailAlert /t REG_DWORD /d 1 /f >/dev/null
"$reg" add "$key" /v DeleteOldLogs /t REG_DWORD /d 0 /f >/dev/null

"$sim" add-printer "Front Desk" --port IP_10.0.0.7 --default >/dev/null
"$sim" add-printer "Back Office" --port IP_10.0.0.8 >/dev/null
"$sim" add-printer "Lab Plotter" --port USB001 >/dev/null
printf '%s' '<log><printers>'\
'<name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>'\
'<name>Back Office</name><ID>2</ID><cost>12</cost><monitored>1</monitored>'\
'<name>Lab Plotter</name><ID>3</ID><cost>20</cost><monitored>0</monitored>'\
'</printers><users></users></log>' >"$app/settings.xml"

# The engine logs a morning's printing; it adds the users to the catalogue.
"$app/quillcore-host" >"$scratch/host.log" 2>&1 &
pids+=($!)
reset_cleared() { "$reg" query "$key" /v Reset 2>/dev/null | grep -q 'REG_DWORD *0x0$'; }
wait_for 30 "the engine's first pass" reset_cleared
jobs=(
  "Front Desk|Quarterly report.pdf|anna|12"
  "Front Desk|Minutes 14 March.docx|ben|3"
  "Back Office|Invoice 2211.xlsx|anna|2"
  "Back Office|Poster draft.png|carla|1"
  "Front Desk|Budget 2007.xlsx|carla|6"
  "Back Office|Contract - signed.pdf|ben|9"
  "Lab Plotter|Floor plan.dwg|ben|4"
  "Front Desk|Letter to the board.odt|anna|1"
)
logged=0
for job in "${jobs[@]}"; do
  IFS='|' read -r printer document user pages <<<"$job"
  id=$("$sim" submit "$printer" --document "$document" --user "$user" --pages "$pages")
  "$sim" complete "$printer" "$id"
  [ "$printer" = "Lab Plotter" ] || logged=$((logged + 1))   # not monitored
done
all_logged() {
  local day
  day=$(ls "$app/Logs"/d_*.xml 2>/dev/null | head -n1)
  [ -n "$day" ] && [ "$(grep -o '<event>' "$day" | wc -l)" -ge "$logged" ]
}
wait_for 30 "the engine to log the jobs" all_logged

# ---- The desktop ---------------------------------------------------------
exec 5>"$scratch/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
exec 5>&-
display_known() { grep -q '^[0-9]\+$' "$scratch/display" 2>/dev/null; }
wait_for 20 "the X server" display_known
export DISPLAY=":$(cat "$scratch/display")"
unset WAYLAND_DISPLAY
openbox --startup "touch $scratch/wm-ready" >"$scratch/openbox.log" 2>&1 &
pids+=($!)
wm_ready() { [ -e "$scratch/wm-ready" ]; }
wait_for 20 "the window manager" wm_ready

QT_QPA_PLATFORM=xcb "$app/Quillmark" >"$scratch/console.log" 2>&1 &
console=$!
pids+=("$console")
main=""
main_shown() {
  main=$(xdotool search --onlyvisible --pid "$console" --name '^Quillmark$' 2>/dev/null | head -n1)
  [ -n "$main" ]
}
wait_for 30 "the console's window" main_shown

# ---- Shots ---------------------------------------------------------------
current=$main

# A visible window of the console whose title matches, newest first.
find_window() {
  local title=$1 id
  for id in $(xdotool search --onlyvisible --pid "$console" 2>/dev/null | sort -rn); do
    [ "$id" = "$main" ] && [ "$title" != '^Quillmark$' ] && continue
    if xdotool getwindowname "$id" 2>/dev/null | grep -Eq -- "$title"; then
      found=$id
      return 0
    fi
  done
  return 1
}

step() {
  local verb=$1; shift
  case $verb in
    # A moment after each click lets the console show what it opened
    # before the next step points at it.
    click) xdotool mousemove --window "$current" "$1" "$2" click 1; sleep 0.3 ;;
    dblclick) xdotool mousemove --window "$current" "$1" "$2" click --repeat 2 --delay 80 1 ;;
    key) xdotool key --clearmodifiers "$@" ;;
    type) xdotool type --delay 20 -- "$*" ;;
    window)
      found=""
      wait_for 20 "a window titled $*" find_window "$*"
      current=$found
      ;;
    main) current=$main ;;
    *) echo "unknown step: $verb" >&2; exit 1 ;;
  esac
}

run_steps() {
  local steps=$1 s
  IFS=';' read -ra parts <<<"$steps"
  for s in "${parts[@]}"; do
    read -ra words <<<"$s"
    [ ${#words[@]} -eq 0 ] || step "${words[@]}"
  done
}

# Takes the window in use with a margin of the desktop around it, once the
# picture has stopped changing.
picture() {
  local file=$1 geometry x y w h m=20
  xdotool mousemove 0 0           # no hover look on what is pictured
  geometry=$(xwininfo -id "$current")
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$geometry")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$geometry")
  w=$(sed -n 's/.*Width: *//p' <<<"$geometry")
  h=$(sed -n 's/.*Height: *//p' <<<"$geometry")
  local cx=$((x > m ? x - m : 0)) cy=$((y > m ? y - m : 0))
  local crop="$((w + 2 * m))x$((h + 2 * m))+${cx}+${cy}"
  local previous="$scratch/previous.png" next="$scratch/next.png" same=0
  import -window root -crop "$crop" +repage "$previous"
  local deadline=$((SECONDS + 20))
  while [ $same -lt 3 ]; do
    [ $SECONDS -lt $deadline ] || { echo "the picture of $file kept changing" >&2; exit 1; }
    sleep 0.1
    import -window root -crop "$crop" +repage "$next"
    # A text caret blinks for ever: a few dozen pixels may differ.
    local changed
    changed=$(compare -metric AE "$previous" "$next" null: 2>&1 || true)
    if [[ $changed =~ ^[0-9]+$ ]] && [ "$changed" -le 60 ]; then
      same=$((same + 1))
    else
      same=0
      mv "$next" "$previous"
    fi
  done
  mv "$previous" "$file"
}

taken=()
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%%#*}
  read -r name rest <<<"$line" || true
  [ -n "${name:-}" ] || continue
  if [ ${#wanted[@]} -gt 0 ] && [[ ! " ${wanted[*]} " == *" $name "* ]]; then continue; fi
  before=${rest%%|*}
  after=""
  [[ $rest == *"|"* ]] && after=${rest#*|}
  current=$main
  run_steps "$before"
  picture "$out/$name.png"
  taken+=("$out/$name.png")
  run_steps "$after"
done <"$shots_file"

printf '%s\n' "${taken[@]}"
