#!/usr/bin/env bash
# The console in a real desktop: a private X server (Xvfb), a window
# manager (openbox) and an XEmbed notification area (trayer). The window is
# hidden into the notification area with Escape; a right press on the icon
# opens its menu, whose "Show" must bring the window back, as must a
# double-click on the icon, and whose "Exit" must end the console with
# status 0.
#
#   real_tray_e2e.sh QUILLMARK QUILLMARK_REG
#
# Exits 77 (skipped) when a tool of the desktop is missing.
set -euo pipefail

console=$1
reg=$2

for tool in Xvfb openbox trayer xdotool xwininfo; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-tray-XXXXXX")
pids=()
cleanup() {
  local status=$?
  if [ -n "$console_pid" ] && kill -0 "$console_pid" 2>/dev/null; then kill "$console_pid" 2>/dev/null || true; fi
  # Stopped in reverse order of starting, each by the id it was given.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ $status -ne 0 ]; then
    local log
    for log in "$scratch"/*.log; do
      [ -s "$log" ] && { echo "--- $(basename "$log"):"; cat "$log"; }
    done
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

# wait_for SECONDS DESCRIPTION COMMAND...: runs COMMAND until it succeeds.
# While the console should be running, its end fails the test at once.
console_pid=""
expect_exit=0
wait_for() {
  local seconds=$1 what=$2; shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if [ -n "$console_pid" ] && [ $expect_exit -eq 0 ] && ! kill -0 "$console_pid" 2>/dev/null; then
      local status=0
      wait "$console_pid" || status=$?
      console_pid=""
      fail "the console ended with status $status while waiting for $what"
    fi
    [ $SECONDS -lt $deadline ] || fail "timed out after ${seconds}s waiting for $what"
    sleep 0.05
  done
}

# A home, registry, spool and run-time folder of the test's own.
mkdir -p "$scratch/home" "$scratch/run" "$scratch/app"
chmod 700 "$scratch/run"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_RUNTIME_DIR=$scratch/run
export QUILLMARK_REGISTRY=$scratch/registry QUILLMARK_SPOOLER=$scratch/spool
export QUILLMARK_OPENER=true
"$reg" add 'HKLM\Software\Quillmark' /v AppPath /t REG_SZ /d "$scratch/app" /f >/dev/null
"$reg" add 'HKLM\Software\Quillmark' /v Monitoring /t REG_DWORD /d 1 /f >/dev/null

# The X server picks a free display and writes its number.
exec 5>"$scratch/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
exec 5>&-
display_known() { [ -s "$scratch/display" ] && grep -q '^[0-9]\+$' "$scratch/display"; }
wait_for 20 "the X server" display_known
export DISPLAY=":$(cat "$scratch/display")"
unset WAYLAND_DISPLAY
x_answers() { xwininfo -root >/dev/null 2>&1; }
wait_for 20 "the X server to answer" x_answers

# Openbox runs its start-up command once it manages the screen.
openbox --startup "touch $scratch/wm-ready" >"$scratch/openbox.log" 2>&1 &
pids+=($!)
wm_running() { [ -e "$scratch/wm-ready" ]; }
wait_for 20 "the window manager" wm_running

trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 26 \
  --transparent false --SetDockType true >"$scratch/trayer.log" 2>&1 &
pids+=($!)
panel=""
panel_mapped() {
  panel=$(xdotool search --onlyvisible --name '^panel$' 2>/dev/null | head -n1)
  [ -n "$panel" ]
}
wait_for 20 "the notification area" panel_mapped

# Under LeakSanitizer, leaks inside the desktop's libraries are not the
# console's. Some come from modules the X platform loads and unloads
# again (no name left to suppress them by), so this run checks memory
# errors and the exit only; the console's own leaks are checked by its
# offscreen tests.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/real_tray_lsan.supp"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
QT_QPA_PLATFORM=xcb "$console" >"$scratch/console.log" 2>&1 &
console_pid=$!

window=""
main_window_shown() {
  window=$(xdotool search --onlyvisible --pid "$console_pid" --name '^Quillmark$' 2>/dev/null | head -n1)
  [ -n "$window" ]
}
wait_for 30 "the main window" main_window_shown

viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
hidden() { ! viewable "$1"; }

# The console's icon: its window embedded in the notification area. Sets
# icon_x and icon_y to its centre on the screen.
icon_x="" icon_y=""
icon_count() { xwininfo -tree -id "$panel" 2>/dev/null | grep -c '"Quillmark"' || true; }
icon_shown() {
  local line
  line=$(xwininfo -tree -id "$panel" 2>/dev/null | grep '"Quillmark"' | head -n1)
  [ -n "$line" ] || return 1
  local id size abs
  id=$(awk '{print $1}' <<<"$line")
  viewable "$id" || return 1
  size=$(grep -o '[0-9]\+x[0-9]\+' <<<"$line" | tail -n1)
  abs=$(awk '{print $NF}' <<<"$line")            # +X+Y on the screen
  local x=${abs#+}; x=${x%%+*}
  local y=${abs##*+}
  icon_x=$((x + ${size%x*} / 2))
  icon_y=$((y + ${size#*x} / 2))
}
icon_gone() { [ "$(icon_count)" -eq 0 ]; }

# Escape hides the window into the notification area: one icon.
hide_to_tray() {
  xdotool windowactivate --sync "$window" key Escape
  wait_for 20 "the window to hide" hidden "$window"
  wait_for 20 "the tray icon" icon_shown
  [ "$(icon_count)" -eq 1 ] || fail "expected one tray icon, found $(icon_count)"
}

# Moves the pointer and waits until it is there (xdotool's own --sync
# waits for a motion, which never comes when the pointer is there already).
pointer_at() {
  local where
  where=$(xdotool getmouselocation --shell 2>/dev/null) || return 1
  grep -qx "X=$1" <<<"$where" && grep -qx "Y=$2" <<<"$where"
}
pointer_to() {
  xdotool mousemove "$1" "$2"
  wait_for 10 "the pointer at $1,$2" pointer_at "$1" "$2"
}

# Sets menu_* to the geometry of the console's open popup menu.
menu_x="" menu_y="" menu_w="" menu_h=""
menu_open() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$console_pid" 2>/dev/null); do
    [ "$id" = "$window" ] && continue
    local G_X=0 G_Y=0 G_WIDTH=0 G_HEIGHT=0 G_WINDOW="" G_SCREEN=""
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | sed 's/^/G_/')"
    # The icon is small; the menu has thirteen entries.
    if [ "$G_HEIGHT" -gt 100 ] && [ "$G_WIDTH" -gt 40 ]; then
      menu_x=$G_X menu_y=$G_Y menu_w=$G_WIDTH menu_h=$G_HEIGHT
      return 0
    fi
  done
  return 1
}
menu_closed() { ! menu_open; }

# The icon settles once the notification area has laid it out: the same
# place three polls in a row.
settled=0 last_place=""
icon_settled() {
  icon_shown || { settled=0; return 1; }
  if [ "$icon_x,$icon_y" = "$last_place" ]; then settled=$((settled + 1)); else settled=0; fi
  last_place="$icon_x,$icon_y"
  [ $settled -ge 2 ]
}

# Opens the icon's menu with a right press and clicks the entry at the
# given end of the menu ("first" is Show, "last" is Exit).
choose_from_tray_menu() {
  local which=$1
  settled=0 last_place=""
  wait_for 20 "the tray icon to settle" icon_settled
  pointer_to "$icon_x" "$icon_y"
  xdotool mousedown 3
  # The menu opens on the press, not on the release.
  wait_for 20 "the tray menu (icon at $icon_x,$icon_y)" menu_open
  xdotool mouseup 3
  local x=$((menu_x + menu_w / 2)) y
  if [ "$which" = first ]; then y=$((menu_y + 10)); else y=$((menu_y + menu_h - 10)); fi
  pointer_to "$x" "$y"
  # Let the menu see the pointer over the entry before the click.
  pointer_to "$((x + 1))" "$y"
  xdotool click 1
}

echo "hide to the tray"
hide_to_tray

echo "tray menu: Show"
choose_from_tray_menu first
wait_for 20 "the window to come back" viewable "$window"
wait_for 20 "the tray icon to go" icon_gone
wait_for 20 "the menu to close" menu_closed

echo "hide to the tray again; a double-click on the icon restores"
hide_to_tray
settled=0 last_place=""
wait_for 20 "the tray icon to settle" icon_settled
pointer_to "$icon_x" "$icon_y"
xdotool click --repeat 2 --delay 80 1
wait_for 20 "the window to come back" viewable "$window"
wait_for 20 "the tray icon to go" icon_gone

echo "hide to the tray once more"
hide_to_tray

echo "tray menu: Exit"
choose_from_tray_menu last
expect_exit=1
console_ended() { ! kill -0 "$console_pid" 2>/dev/null; }
wait_for 30 "the console to exit" console_ended
status=0
wait "$console_pid" || status=$?
console_pid=""
[ "$status" -eq 0 ] || fail "the console exited with status $status"
echo "PASS"
