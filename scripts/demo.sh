#!/usr/bin/env bash
# The main job: builds Quillmark, seeds an application folder and a registry
# in a temporary folder, starts the engine host, shows that monitoring
# switched on, and stops it cleanly.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

demo=$(mktemp -d /tmp/quillmark-demo-XXXXXX)
app="$demo/app"
export QUILLMARK_REGISTRY="$demo/registry"
mkdir -p "$app/Logs"
cp -a build/app/. "$app/"
reg="$app/quillmark-reg"
key='HKLM\Software\Quillmark'

echo "== seeding the registry in $QUILLMARK_REGISTRY =="
"$reg" add "$key" /v AppPath /t REG_SZ /d "$app" /f >/dev/null
"$reg" add "$key" /v DeleteOldLogs /t REG_DWORD /d 1 /f >/dev/null
"$reg" add "$key" /v DeleteLogsDays /t REG_DWORD /d 30 /f >/dev/null
"$reg" add "$key" /v EmailAlertFreq /t REG_DWORD /d 1 /f >/dev/null
"$reg" add "$key" /v Monitoring /t REG_DWORD /d 0 /f >/dev/null
"$reg" query "$key"

echo "== starting the engine host =="
"$app/quillcore-host" &
host=$!
for _ in $(seq 1 50); do
  if "$reg" query "$key" /v Monitoring 2>/dev/null | grep -q 'REG_DWORD    0x1'; then break; fi
  sleep 0.1
done
sleep 0.5
"$reg" query "$key"

echo "== stopping the engine host (SIGTERM) =="
kill -TERM "$host"
status=0
wait "$host" || status=$?
echo "quillcore-host exited with status $status"
echo "Demo files are in $demo"
exit "$status"
