#!/bin/sh
# The Windows host under wine, on the simulated spooler: it loads
# Quillcore.dll and runs it; a job printed on a monitored printer is
# logged; the report thread mails yesterday's log by starting Postrider.exe,
# which sends it through Winsock to a local SMTP server (aiosmtpd); Ctrl+C
# (SIGINT, which wine hands to the console's control handler) stops the
# engine and the host exits with status 0.
#
#   host_wine.sh APP_FOLDER WORK_FOLDER
# APP_FOLDER is the Windows build's program folder (quillcore-host.exe,
# Quillcore.dll, Postrider.exe, quillmark-reg.exe, quillmark-sim.exe).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
app=$1
work=$2
QUILLMARK_WINE_PREFIX_DEFAULT=$work/wineprefix
. "$here/wine_env.sh"
for p in quillcore-host.exe Quillcore.dll Postrider.exe quillmark-reg.exe quillmark-sim.exe; do
  [ -f "$app/$p" ] || fail "no $app/$p"
done
# The Python with aiosmtpd is the system's (Debian's python3-aiosmtpd), as for the
# mailer's Linux tests.
python=/usr/bin/python3
"$python" -c 'import aiosmtpd' 2>/dev/null || fail "python3-aiosmtpd is not installed"

rm -rf "$work/data" "$work/spool" "$work/mail"
mkdir -p "$work/data/Logs" "$work/spool" "$work/mail/store"
key='HKLM\Software\Quillmark'
export TZ=UTC0
export QUILLMARK_SPOOLER
QUILLMARK_SPOOLER=$(windows_path "$work/spool")

host_pid=
sink_pid=
cleanup() {
  [ -z "$host_pid" ] || kill -KILL "$host_pid" 2>/dev/null || true
  [ -z "$sink_pid" ] || kill -TERM "$sink_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

reg() { run_wine "$app/quillmark-reg.exe" "$@" >/dev/null 2>&1 || fail "quillmark-reg $*"; }
sim() { run_wine "$app/quillmark-sim.exe" "$@" 2>&1 | tr -d '\r'; }

# The local SMTP server, on a free loopback port it writes down.
"$python" "$here/../mailer_e2e/smtp_sink.py" --port-file "$work/mail/port" --store "$work/mail/store" \
  --auth none --user '' --password '' 2>"$work/mail/sink.log" &
sink_pid=$!
wait_until 20 test -s "$work/mail/port" || fail "the SMTP server did not start: $(cat "$work/mail/sink.log")"
port=$(cat "$work/mail/port")

# The engine's settings: the data folder, a monitored printer, the report
# of yesterday due (its log is there) and where to mail it.
printf '%s' '<log><printers><name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored></printers></log>' \
  >"$work/data/settings.xml"
yesterday=$(date -u -d yesterday +%Y%m%d)
printf '%525s\r\n%s' '' '<event><day>01</day><month>01</month><year>2026</year><hour>10</hour><min>00</min><doc>yesterday</doc><pages>1</pages><cost>5</cost><printer>Front Desk</printer><user>bob</user></event>' \
  >"$work/data/Logs/d_$yesterday.xml"
run_wine reg delete "$key" /f >/dev/null 2>&1 || true
reg add "$key" /v AppPath /t REG_SZ /d "$(windows_path "$work/data")" /f
reg add "$key" /v ToSendDay /t REG_SZ /d "$yesterday" /f
reg add "$key" /v EmailAlert /t REG_DWORD /d 1 /f
reg add "$key" /v SMTPPORT /t REG_DWORD /d "$port" /f
reg add "$key" /v SMTPSRV /t REG_SZ /d 127.0.0.1 /f /scramble
reg add "$key" /v SMTPAUTH /t REG_SZ /d None /f /scramble
reg add "$key" /v EmailAddress /t REG_SZ /d 'a@x.test' /f /scramble
reg add "$key" /v SMTPEmailAddress /t REG_SZ /d 'reports@x.test' /f /scramble
reg add "$key" /v SMTPName /t REG_SZ /d 'Quillmark Reports' /f /scramble
reg add "$key" /v SMTPEmailAddress4Server /t REG_SZ /d '' /f /scramble
reg add "$key" /v SMTPPass4MailServer /t REG_SZ /d '' /f /scramble
sim add-printer 'Front Desk' >/dev/null

"$WINE" "$app/quillcore-host.exe" >"$work/host.out" 2>&1 &
host_pid=$!

# The report of yesterday arrives.
mailed() { ls "$work/mail/store"/*.eml >/dev/null 2>&1; }
wait_until 90 mailed || fail "no report was mailed; host: $(cat "$work/host.out"); server: $(cat "$work/mail/sink.log")"
grep -q 'a@x.test' "$work/mail/store"/*.json || fail "the report went to the wrong recipient"
"$python" - "$work/mail/store"/msg-1.eml <<'PY' || fail "the mail has no Report.xml with yesterday's job"
import email, sys
message = email.message_from_binary_file(open(sys.argv[1], "rb"))
reports = [p.get_payload(decode=True) for p in message.walk() if p.get_filename() == "Report.xml"]
ok = len(reports) == 1 and b"<doc>yesterday</doc>" in reports[0] and reports[0].endswith(b"</log>")
sys.exit(0 if ok else 1)
PY
out=$(run_wine reg query "$key" /v ToSendDay 2>&1 | tr -d '\r')
today=$(date -u +%Y%m%d)
wait_until 30 sh -c "sh '$WINE_RUN' '$WINE' reg query '$key' /v ToSendDay 2>&1 | grep -q $today" ||
  fail "ToSendDay did not move on to today after the mail: $out"

# A job printed on the monitored printer is logged once its watcher is
# registered: probe jobs until one shows in the day's log.
logged=
for attempt in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
  id=$(sim submit 'Front Desk' --document "probe-$attempt" --user ann --pages 3 | tail -n 1)
  sim complete 'Front Desk' "$id" >/dev/null
  has_probe() { grep -qs "<doc>probe-$attempt</doc><pages>3</pages><cost>15</cost>" "$work/data/Logs/d_$today.xml"; }
  if wait_until 5 has_probe; then logged=yes; break; fi
done
[ -n "$logged" ] || fail "no printed job was logged; host: $(cat "$work/host.out")"
run_wine reg query "$key" /v Heartbeat >/dev/null 2>&1 || fail "the engine wrote no heartbeat"

# Ctrl+C: the engine stops and the host exits with 0.
kill -INT "$host_pid"
gone() { ! kill -0 "$host_pid" 2>/dev/null; }
wait_until 30 gone || fail "the host did not stop on Ctrl+C"
status=0
wait "$host_pid" || status=$?
host_pid=
[ "$status" -eq 0 ] || fail "the host exited with $status; $(cat "$work/host.out")"
echo "host: engine ran under wine, logged a job, mailed the report, stopped on Ctrl+C"
