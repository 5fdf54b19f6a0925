#!/bin/sh
# Runs a Windows program under wine and passes on its output and its exit
# status:
#
#   wine-run.sh WINE PROGRAM [ARGUMENT...]
#
# The first program that needs one of wine's own service programs
# (services.exe, rpcss.exe, svchost.exe, ...) starts it, and the service
# inherits that program's standard output and error and lives as long as
# the wine server. Through a pipe (a test runner's, a `$(...)`) that would
# keep the reader waiting for an end of file that never comes; here the
# program writes into files, which are passed on once it has ended.
set -u
wine=$1
shift
dir=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-wine-run-XXXXXX") || exit 125
"$wine" "$@" >"$dir/out" 2>"$dir/err"
status=$?
cat "$dir/out"
cat "$dir/err" >&2
rm -rf "$dir"
exit "$status"
