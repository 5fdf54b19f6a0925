#!/usr/bin/env bash
# Installs a built tree system-wide:
#
#   /usr/lib/quillmark              root:root 0755, the programs and libraries
#                                   only (nothing there is writable by anyone
#                                   but root; the engine is loaded and the
#                                   mailer started only from here)
#   /var/lib/quillmark              root:quillmark 0750
#   /var/lib/quillmark/data         root:quillmark 2770, named by "AppPath"
#     settings.xml                  root:quillmark 0660 (the catalogue; the
#                                   console's users and the engine write it)
#     Logs/                         quillmark:quillmark 2750, files 0640: only
#                                   the engine writes here, the group reads
#   /var/lib/quillmark/registry     root:quillmark 2770, values 0660
#   /lib/systemd/system/quillcore-host.service
#                                   the engine host, run as the account
#                                   "quillmark" (a system user in the groups
#                                   quillmark and lpadmin)
#
# Add the console's users to the group quillmark. Nothing but this script
# needs root.
#
#   sudo ./scripts/install.sh [BUILD_DIR [ROOT]]
#
# ROOT installs everything below that folder instead of / (tests do), with
# every path the programs are given, "AppPath" and the unit included,
# pointing inside it. QUILLMARK_ACCOUNT names the service account and its
# group (default quillmark).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
root=${2:-}
root=${root%/}
account=${QUILLMARK_ACCOUNT:-quillmark}

app=$root/usr/lib/quillmark
base=$root/var/lib/quillmark
data=$base/data
registry=$base/registry
units=$root/lib/systemd/system

# The service account: no login, no home, its own group.
getent group "$account" >/dev/null || groupadd --system "$account"
getent group lpadmin >/dev/null || groupadd --system lpadmin
if ! getent passwd "$account" >/dev/null; then
  useradd --system --gid "$account" --no-create-home --home-dir /nonexistent \
    --shell /usr/sbin/nologin "$account"
fi
# CUPS shows job names and owners to the lpadmin group.
usermod -a -G lpadmin "$account"

# The install folder: root's alone.
install -d -o root -g root -m 0755 "$app"
for program in quillcore-host Postrider Quillmark quillmark-reg quillmark-sim quillmark-report; do
  [ -f "$build/app/$program" ] && install -o root -g root -m 0755 "$build/app/$program" "$app/$program"
done
for library in libquillcore.so libqmplatform.so; do
  install -o root -g root -m 0644 "$build/app/$library" "$app/$library"
done
if [ -d "$build/app/help" ]; then
  install -d -o root -g root -m 0755 "$app/help"
  find "$build/app/help" -maxdepth 1 -type f -exec install -o root -g root -m 0644 {} "$app/help/" \;
fi

# The data folder. An earlier install kept the catalogue and the logs in
# the install folder: they move here.
install -d -o root -g "$account" -m 0750 "$base"
install -d -o root -g "$account" -m 2770 "$data"
for old in settings.xml Logs; do
  [ -e "$app/$old" ] || continue
  if [ -e "$data/$old" ]; then mv "$app/$old" "$data/$old.earlier-install"; else mv "$app/$old" "$data/$old"; fi
done
rm -f "$app/settings.xml.lock"
[ -f "$data/settings.xml" ] || install -m 0660 "$build/app/settings.xml" "$data/settings.xml"
chown root:"$account" "$data/settings.xml"
chmod 0660 "$data/settings.xml"

# The logs are the engine's: its account owns every folder and file below,
# the group reads them, nobody else sees them. No link is taken over.
install -d -o "$account" -g "$account" -m 2750 "$data/Logs"
# The file the console's test message mails, and the report stylesheets.
install -m 0640 data/TestEmail.xml data/printers.xsl data/users.xsl data/style.xsl \
  data/report-layout.xsl "$data/Logs/"
find "$data/Logs" -mindepth 1 \( -type l -o \( -type f -links +1 \) \) -delete
find "$data/Logs" -mindepth 1 -exec chown -h "$account:$account" {} +
find "$data/Logs" -mindepth 1 -type d -exec chmod 2750 {} +
find "$data/Logs" -mindepth 1 -type f -exec chmod 0640 {} +
rm -f "$data/Logs/quillcore.lock"   # made again, 0600, by the engine

# The registry store; values are replaced atomically by whoever writes them.
install -d -o root -g "$account" -m 2770 "$registry"
export QUILLMARK_REGISTRY="$registry"
key='HKLM\Software\Quillmark'
"$app/quillmark-reg" add "$key" /v AppPath /t REG_SZ /d "$data" /f
"$app/quillmark-reg" add "$key" /v DeleteOldLogs /t REG_DWORD /d 1 /f
"$app/quillmark-reg" add "$key" /v DeleteLogsDays /t REG_DWORD /d 30 /f
"$app/quillmark-reg" add "$key" /v EmailAlertFreq /t REG_DWORD /d 1 /f
chgrp -R "$account" "$registry"
find "$registry" -type d -exec chmod 2770 {} +
find "$registry" -type f -exec chmod 0660 {} +
# The engine's CUPS notifier: cupsd runs it, as its own user, for the
# "quillmark:" subscriptions that wake the watchers.
for notifiers in /usr/lib/cups/notifier /usr/libexec/cups/notifier; do
  if [ -d "$notifiers" ]; then
    install -D -o root -g root -m 0755 "$build/app/quillmark-cups-notifier" "$root$notifiers/quillmark"
    break
  fi
done

# The unit, with the paths and the account of this install.
if [ -n "$root" ] || [ -d /lib/systemd/system ]; then
  install -d -m 0755 "$units"
  sed -e "s|/usr/lib/quillmark|$app|g" -e "s|/var/lib/quillmark|$base|g" \
    -e "s|^User=quillmark|User=$account|" -e "s|^Group=quillmark|Group=$account|" \
    data/quillcore-host.service >"$units/quillcore-host.service"
  chmod 0644 "$units/quillcore-host.service"
fi
echo "Installed into $app; data in $data; registry in $registry."
echo "Add the console's users to the group '$account'."
