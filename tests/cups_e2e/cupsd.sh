#!/bin/sh
# A private CUPS scheduler for tests, entirely inside one folder: its own
# configuration, state, cache, spool and logs, listening only on a local
# socket in that folder, so the machine's own printing is never touched.
#
#   cupsd.sh start DIR [OWNER_PID]
#                         start it; prints the socket path (use it as
#                         CUPS_SERVER or with "lp -h"). With OWNER_PID it
#                         also stops by itself once that process has gone,
#                         so a test that crashes leaves no scheduler behind.
#   cupsd.sh queue DIR NAME [DELAY [STAMP]]
#                         add an enabled, accepting test queue that reports
#                         one page per document line (DELAY: seconds per
#                         page; STAMP: a file, writable by user lp, that gets
#                         "JOB TIME" when a job has printed)
#   cupsd.sh stop DIR     stop it (and wait until it has gone)
#
# The scheduler runs its backends as user "lp", so DIR is made traversable.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|queue|stop DIR ..." >&2; exit 2; }

socket="$dir/cups.sock"

case "$cmd" in
start)
  [ -x /usr/sbin/cupsd ] || { echo "cupsd is not installed" >&2; exit 3; }
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  socket="$dir/cups.sock"
  chmod 755 "$dir"
  mkdir -p "$dir/etc/ppd" "$dir/etc/ssl" "$dir/state/certs" "$dir/cache" \
           "$dir/spool/tmp" "$dir/log" "$dir/bin/backend"
  # Helpers, filters and the rest come from the system; backends are only
  # ours, so no queue can reach a real device.
  for sub in daemon filter cgi-bin monitor driver; do
    [ -e /usr/lib/cups/$sub ] && ln -sfn /usr/lib/cups/$sub "$dir/bin/$sub"
  done
  # The system's notifiers, and the engine's own ("quillmark") from
  # $QUILLMARK_CUPS_NOTIFIER or the build beside this script, when built.
  mkdir -p "$dir/bin/notifier"
  for n in /usr/lib/cups/notifier/*; do
    [ -e "$n" ] && ln -sfn "$n" "$dir/bin/notifier/$(basename "$n")"
  done
  notifier=${QUILLMARK_CUPS_NOTIFIER:-$here/../../build/app/quillmark-cups-notifier}
  [ -x "$notifier" ] && install -m 755 "$notifier" "$dir/bin/notifier/quillmark"
  chmod 755 "$dir/bin/notifier"
  install -m 755 "$here/qmpages" "$dir/bin/backend/qmpages"
  chmod 755 "$dir/bin" "$dir/bin/backend"

  cat >"$dir/cups-files.conf" <<CONF
ServerRoot $dir/etc
StateDir $dir/state
CacheDir $dir/cache
RequestRoot $dir/spool
TempDir $dir/spool/tmp
ServerBin $dir/bin
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
User lp
Group lp
SystemGroup root lpadmin
FileDevice Yes
CONF

  cat >"$dir/cupsd.conf" <<CONF
Listen $socket
LogLevel debug
# Every request, queries too: tests count what a watcher asks.
AccessLogLevel all
MaxLogSize 0
Browsing No
DefaultShared No
WebInterface No
PreserveJobHistory Yes
PreserveJobFiles No
MaxJobs 0
MaxEvents 100
JobKillDelay 1
DirtyCleanInterval 0
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF

  rm -f "$socket"
  # -f keeps it in the foreground of its own background shell, so that its
  # pid is ours to stop; -F would do the same without logging to stderr.
  nohup /usr/sbin/cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" \
    >"$dir/log/cupsd.out" 2>&1 </dev/null &
  pid=$!
  echo $pid >"$dir/cupsd.pid"
  owner=${3:-}
  if [ -n "$owner" ]; then
    (
      while kill -0 "$owner" 2>/dev/null && kill -0 "$pid" 2>/dev/null; do sleep 1; done
      kill "$pid" 2>/dev/null
    ) >/dev/null 2>&1 </dev/null &
  fi
  i=0
  while [ $i -lt 100 ]; do
    if [ -S "$socket" ] && lpstat -h "$socket" -r >/dev/null 2>&1; then
      echo "$socket"
      exit 0
    fi
    if ! kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null; then
      echo "cupsd exited at start:" >&2
      cat "$dir/log/cupsd.out" >&2 || true
      tail -n 20 "$dir/log/error_log" >&2 2>/dev/null || true
      exit 1
    fi
    sleep 0.1
    i=$((i + 1))
  done
  echo "cupsd did not answer on $socket" >&2
  "$0" stop "$dir" || true
  exit 1
  ;;
queue)
  name=${3:?queue name}
  delay=${4:-0}
  stamp=${5:-}
  uri="qmpages:/?delay=$delay"
  [ -z "$stamp" ] || uri="$uri&stamp=$stamp"
  lpadmin -h "$socket" -p "$name" -v "$uri" -m raw -E >/dev/null 2>&1 ||
    lpadmin -h "$socket" -p "$name" -v "$uri" -m raw -E
  cupsenable -h "$socket" "$name"
  cupsaccept -h "$socket" "$name"
  ;;
stop)
  if [ -f "$dir/cupsd.pid" ]; then
    pid=$(cat "$dir/cupsd.pid")
    kill "$pid" 2>/dev/null || true
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$dir/cupsd.pid"
  fi
  ;;
*)
  echo "unknown command $cmd" >&2; exit 2 ;;
esac
