#!/usr/bin/env bash
# The main job: builds Quillmark, seeds an application folder, a registry
# and a simulated print spooler in a temporary folder, starts the engine
# host monitoring two printers, prints a handful of jobs for two users with
# quillmark-sim, lists the log files the engine wrote and shows a record.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

demo=$(mktemp -d /tmp/quillmark-demo-XXXXXX)
app="$demo/app"
export QUILLMARK_REGISTRY="$demo/registry"
export QUILLMARK_SPOOLER="$demo/spool"
mkdir -p "$app/Logs"
cp -a build/app/. "$app/"
cp data/printers.xsl data/users.xsl data/style.xsl data/report-layout.xsl "$app/Logs/"
reg="$app/quillmark-reg"
sim="$app/quillmark-sim"
key='HKLM\Software\Quillmark'

echo "== seeding the registry in $QUILLMARK_REGISTRY =="
"$reg" add "$key" /v AppPath /t REG_SZ /d "$app" /f >/dev/null
"$reg" add "$key" /v DeleteOldLogs /t REG_DWORD /d 1 /f >/dev/null
"$reg" add "$key" /v DeleteLogsDays /t REG_DWORD /d 30 /f >/dev/null
"$reg" add "$key" /v Monitoring /t REG_DWORD /d 0 /f >/dev/null
"$reg" query "$key"

echo "== the simulated spooler in $QUILLMARK_SPOOLER =="
"$sim" add-printer "Front Desk" --port IP_10.0.0.7 --default
"$sim" add-printer "Back Office" --port IP_10.0.0.8
"$sim" add-printer "Lab Plotter" --port USB001
"$sim" printers

echo "== the catalogue: Front Desk (5 cents a page) and Back Office (2) monitored =="
printf '%s' '<log><printers>'\
'<name>Front Desk</name><ID>1</ID><cost>5</cost><monitored>1</monitored>'\
'<name>Back Office</name><ID>2</ID><cost>2</cost><monitored>1</monitored>'\
'<name>Lab Plotter</name><ID>3</ID><cost>20</cost><monitored>0</monitored>'\
'</printers><users></users></log>' >"$app/settings.xml"
cat "$app/settings.xml"; echo

echo "== starting the engine host =="
"$app/quillcore-host" &
host=$!
trap 'kill -TERM "$host" 2>/dev/null || true' EXIT
# The first control pass loads the catalogue, starts the watchers and
# clears Reset.
for _ in $(seq 1 50); do
  if "$reg" query "$key" /v Reset 2>/dev/null | grep -q 'REG_DWORD    0x0'; then break; fi
  sleep 0.1
done
sleep 1

echo "== printing =="
submit() { "$sim" submit "$1" --document "$2" --user "$3" --pages "$4"; }
a=$(submit "Front Desk" "Quarterly report.pdf" anna 12)
b=$(submit "Front Desk" "Minutes & actions.docx" ben 3)
c=$(submit "Back Office" "Invoice 2211.xlsx" anna 2)
d=$(submit "Back Office" "Poster draft.png" ben 1)
e=$(submit "Lab Plotter" "Floor plan.dwg" ben 4)
"$sim" advance "Front Desk" "$a" 5
echo "-- Front Desk queue while printing:"
"$sim" jobs "Front Desk"
"$sim" complete "Front Desk" "$a"
"$sim" complete "Back Office" "$c"
"$sim" cancel "Back Office" "$d"     # deleted before it printed: logged all the same
"$sim" complete "Front Desk" "$b"
"$sim" complete "Lab Plotter" "$e"   # not monitored: never logged
f=$(submit "Front Desk" "Letter.odt" anna 1)
"$sim" complete "Front Desk" "$f"
echo "-- Front Desk queue afterwards:"
"$sim" jobs "Front Desk"

echo "== waiting for the records =="
day=""
for _ in $(seq 1 100); do
  day=$(ls "$app/Logs"/d_*.xml 2>/dev/null | head -n1 || true)
  if [ -n "$day" ] && [ "$(grep -o '<event>' "$day" | wc -l)" -ge 5 ]; then break; fi
  sleep 0.1
done

echo "== stopping the engine host (SIGTERM) =="
kill -TERM "$host"
status=0
wait "$host" || status=$?
trap - EXIT
echo "quillcore-host exited with status $status"

echo "== log files written =="
(cd "$app" && find Logs -type f -name '*.xml' | sort)
echo "== users the engine added to the catalogue =="
grep -o '<username>[^<]*</username>' "$app/settings.xml" || true
anna_day=$(ls "$app/Logs/Users/anna"/d_*.xml | head -n1)
echo "== first record of ${anna_day#"$app/"} =="
tr -d '\r' <"$anna_day" | sed -n 's/^ *//; /<event>/{p;q}'
echo "== records in the all-printing day file: $(grep -o '<event>' "$day" | wc -l) =="
echo "== today's report for all printing (quillmark-report) =="
"$app/quillmark-report" --period Today --all --format summary
"$app/quillmark-report" --period Today --all --format html --output "$demo/today.html"
"$app/quillmark-report" --period "This month" --user anna --format csv
echo "The HTML report is $demo/today.html"
echo "Demo files are in $demo"
exit "$status"
