#!/usr/bin/env bash
# Installs a built tree system-wide: the programs into /usr/lib/quillmark
# (the application folder), the registry store into /var/lib/quillmark
# with one group for the engine and the console's users, and seeds the
# values no program writes.
#   sudo ./scripts/install.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
app=/usr/lib/quillmark
root=${QUILLMARK_REGISTRY:-/var/lib/quillmark/registry}

getent group quillmark >/dev/null || groupadd --system quillmark
install -d -m 0755 "$app"
cp -a "$build/app/." "$app/"
install -d -m 2775 -g quillmark "$app/Logs"
[ -f "$app/settings.xml" ] && chgrp quillmark "$app/settings.xml" && chmod 0664 "$app/settings.xml"
install -d -m 2770 -g quillmark "$root"
export QUILLMARK_REGISTRY="$root"
key='HKLM\Software\Quillmark'
"$app/quillmark-reg" add "$key" /v AppPath /t REG_SZ /d "$app" /f
"$app/quillmark-reg" add "$key" /v DeleteOldLogs /t REG_DWORD /d 1 /f
"$app/quillmark-reg" add "$key" /v DeleteLogsDays /t REG_DWORD /d 30 /f
"$app/quillmark-reg" add "$key" /v EmailAlertFreq /t REG_DWORD /d 1 /f
chgrp -R quillmark "$root"
# The engine's CUPS notifier: cupsd runs it, as its own user, for the
# "quillmark:" subscriptions that wake the watchers.
for notifiers in /usr/lib/cups/notifier /usr/libexec/cups/notifier; do
  if [ -d "$notifiers" ]; then
    install -m 0755 "$build/app/quillmark-cups-notifier" "$notifiers/quillmark"
    break
  fi
done
if [ -d /lib/systemd/system ]; then
  install -m 0644 data/quillcore-host.service /lib/systemd/system/quillcore-host.service
fi
echo "Installed into $app; registry in $root. Add users to the group 'quillmark'."
