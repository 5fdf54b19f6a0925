#!/bin/sh
# The spooler backend on wine's own winspool, with a printer in it: wine
# takes its printers from the CUPS server CUPS_SERVER names, here a private
# scheduler with one test queue (tests/cups_e2e/cupsd.sh). Runs the
# WinspoolSystem tests of test_winspool.exe against that printer.
#
#   winspool_wine.sh test_winspool.exe WORK_FOLDER
set -eu
here=$(cd "$(dirname "$0")" && pwd)
test_exe=$1
work=$2
QUILLMARK_WINE_PREFIX_DEFAULT=$work/wineprefix
. "$here/wine_env.sh"
# A wine prefix, and so a wine server, of this test's own: wine's spooler
# takes the CUPS printers in once per wine server (the first program that
# loads it keeps a named mutex as long as it runs, and every later one sees
# the mutex and reads nothing), so a server that other tests started
# without this cupsd would never show its printer.
WINEPREFIX=$work/wineprefix
export WINEPREFIX
[ -f "$test_exe" ] || fail "no $test_exe"
mkdir -p "$work"
[ -x /usr/sbin/cupsd ] || fail "cupsd is not installed: no printer for wine's spooler"

cupsd_dir=$(mktemp -d /tmp/quillmark-wine-cupsd-XXXXXX)
trap '"${WINE%wine}wineserver" -k >/dev/null 2>&1 || true
  sh "$here/../cups_e2e/cupsd.sh" stop "$cupsd_dir" >/dev/null 2>&1 || true; rm -rf "$cupsd_dir"' EXIT
# A server left by an interrupted run would hold the old printers.
"${WINE%wine}wineserver" -k >/dev/null 2>&1 || true
"${WINE%wine}wineserver" -w >/dev/null 2>&1 || true
socket=$(sh "$here/../cups_e2e/cupsd.sh" start "$cupsd_dir" $$ | tail -n 1) || fail "the private cupsd did not start"
sh "$here/../cups_e2e/cupsd.sh" queue "$cupsd_dir" WineLaser 0 >/dev/null || fail "no test queue"
lpadmin -h "$socket" -d WineLaser || fail "cannot make the test queue the default"
# The first program of the server, with this cupsd named, copies its
# printers into the prefix's registry (and makes the prefix if need be).
CUPS_SERVER=$socket timeout 300 "${WINE%wine}wineboot" -u >"$work/wineboot.log" 2>&1 ||
  { cat "$work/wineboot.log" >&2; fail "wine could not update its prefix"; }

CUPS_SERVER=$socket QUILLMARK_TEST_PRINTER=WineLaser \
  run_wine "$test_exe" --gtest_filter='WinspoolSystem.*' >"$work/winspool.out" 2>&1 || {
  cat "$work/winspool.out" >&2
  fail "the winspool tests failed under wine"
}
grep -q '\[  PASSED  \] 2 tests' "$work/winspool.out" || { cat "$work/winspool.out" >&2; fail "not both winspool tests ran"; }
grep -q 'SKIPPED' "$work/winspool.out" && { cat "$work/winspool.out" >&2; fail "a winspool test was skipped"; }
echo "winspool: the backend on wine's spooler with a CUPS printer"
