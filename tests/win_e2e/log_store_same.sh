#!/bin/sh
# The log store writes the same files, byte for byte, on the Linux build
# and on the Windows build (under wine): the same jobs at the same clock
# readings in the same time zone, through quillmark-log-replay of each.
# Then a retention pass at a later reading leaves the same files on both.
#
#   log_store_same.sh LINUX_TOOL WINDOWS_TOOL WORK_FOLDER
set -eu
here=$(cd "$(dirname "$0")" && pwd)
linux_tool=$1
windows_tool=$2
work=$3
QUILLMARK_WINE_PREFIX_DEFAULT=$work/wineprefix
. "$here/wine_env.sh"
[ -x "$linux_tool" ] || fail "no Linux build of quillmark-log-replay at $linux_tool: build the Linux tree first"
[ -f "$windows_tool" ] || fail "no $windows_tool"

# A zone rule both builds read the same way (an IANA name the Windows
# runtime would not know): central European time, summer time from the
# last Sunday of March to the last Sunday of October.
export TZ='CET-1CEST,M3.5.0,M10.5.0/3'

rm -rf "$work/linux" "$work/windows"
mkdir -p "$work/linux" "$work/windows"
catalogue='<log><printers><name>Laser 1</name><ID>7</ID><cost>5</cost><monitored>1</monitored><name>Front Desk</name><ID>8</ID><cost>2</cost><monitored>1</monitored></printers></log>'
printf '%s' "$catalogue" >"$work/linux/settings.xml"
printf '%s' "$catalogue" >"$work/windows/settings.xml"

# Jobs: a plain one; Latin-1 names (e acute is byte E9) and markup in the
# document name; one at 22:30 UTC on 31 March 2026, which is 00:30 on
# 1 April in summer time (UTC+2) but would still be March at UTC+1 (a new
# month and quarter); one whose UTC day is a Sunday but whose local day is
# Monday; one whose UTC year is 2025 but whose local year is 2026.
printf '%s\n' \
  '# clock|day|month|year|hour|minute|document|pages|cost|printer|user' \
  'log|1773048600|09|03|2026|10|05|Q&A <draft>.txt|12|5|Laser 1|bob' \
  "log|1774744200|29|03|2026|01|20|R$(printf '\351')sum$(printf '\351').pdf|3|5|Laser 1|Jos$(printf '\351')" \
  'log|1774996200|01|04|2026|00|25|summer time|1|2|Front Desk|ann' \
  'log|1767569400|05|01|2026|00|25|new week|2|2|Front Desk|ann' \
  'log|1767223800|01|01|2026|00|25|new year|4|5|Laser 1|bob' \
  >"$work/jobs.txt"
printf '%s\n' 'retain|1784116800' >"$work/retain.txt"

run_both() {
  script=$1
  "$linux_tool" "$work/linux" "$work/$script" >"$work/linux.out" || fail "the Linux tool failed on $script"
  run_wine "$windows_tool" "$(windows_path "$work/windows")" "$(windows_path "$work/$script")" >"$work/windows.out" ||
    fail "the Windows tool failed on $script under wine"
  tr -d '\r' <"$work/windows.out" | cmp -s - "$work/linux.out" ||
    fail "the tools said different things on $script: $(cat "$work/linux.out") / $(cat "$work/windows.out")"
}

# The files, without the lock files (which hold nothing), sorted.
listing() {
  (cd "$1" && find . -type f ! -name '*.lock' | LC_ALL=C sort)
}

compare() {
  listing "$work/linux" >"$work/linux.list"
  listing "$work/windows" >"$work/windows.list"
  cmp -s "$work/linux.list" "$work/windows.list" || {
    diff "$work/linux.list" "$work/windows.list" >&2 || true
    fail "$1: the builds wrote different files"
  }
  while read -r f; do
    cmp -s "$work/linux/$f" "$work/windows/$f" || fail "$1: $f differs between the builds"
  done <"$work/linux.list"
}

run_both jobs.txt
compare "after logging"
logs=$(grep -c '\.xml$' "$work/linux.list")
# Eighteen files per job and period, fewer where jobs share them; the
# first job alone writes eighteen, so there are more.
[ "$logs" -gt 18 ] || fail "only $logs log files were written"
# The record as the Linux tests know it: after the reservation of spaces,
# a CRLF line end and the event.
{
  printf '%525s\r\n' ''
  printf '%s' '<event><day>09</day><month>03</month><year>2026</year><hour>10</hour><min>05</min><doc>QA draft.txt</doc><pages>12</pages><cost>60</cost><printer>Laser 1</printer><user>bob</user></event>'
} >"$work/expected.xml"
cmp -s "$work/expected.xml" "$work/windows/Logs/Printers/Printer_7/d_20260309.xml" ||
  fail "the first job's day file is not the reservation and its record"
for f in d_20260309 w_10_2026 m_03_2026 q_1_2026 s_1_2026 y_2026; do
  for scope in Logs Logs/Users/bob Logs/Printers/Printer_7; do
    [ -f "$work/windows/$scope/$f.xml" ] || fail "no $scope/$f.xml"
  done
done
[ -f "$work/windows/Logs/Users/ann/d_20260105.xml" ] || fail "the job of Monday 00:30 local time went to Sunday"
[ -f "$work/windows/Logs/y_2026.xml" ] && [ ! -f "$work/windows/Logs/y_2025.xml" ] || fail "the new year's job went to 2025"
[ -f "$work/windows/Logs/Printers/Printer_8/q_2_2026.xml" ] || fail "the job of 1 April 00:30 summer time went to March"

run_both retain.txt
compare "after retention"
removed=$(cat "$work/linux.out")
[ "$removed" != "removed 0" ] || fail "retention removed nothing"
[ -f "$work/windows/Logs/y_2026.xml" ] || fail "retention removed a year file"
[ ! -f "$work/windows/Logs/d_20260309.xml" ] || fail "retention kept an old day file"
echo "log store: $logs files written alike by both builds; retention alike ($removed)"
