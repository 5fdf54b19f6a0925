#!/bin/sh
# A private Postfix for the mailer's tests, run as root from its own folder
# and never the system's configuration:
#
#   private_postfix.sh start FOLDER CERT KEY USER PASSWORD
#   private_postfix.sh stop FOLDER
#
# start writes FOLDER/etc (main.cf, master.cf), queue and data folders,
# a Cyrus SASL database with USER/PASSWORD (PLAIN, LOGIN, CRAM-MD5), and
# starts the master with two SMTP services on 127.0.0.1, on free ports
# written to FOLDER/smtp.port (STARTTLS offered, plain-text AUTH allowed)
# and FOLDER/smtps.port (TLS from the first byte). Mail for any address at
# x.test is delivered to the one maildir FOLDER/mail/inbox/. The log is
# FOLDER/maillog. FOLDER's parent folders must be searchable by the postfix
# user and by nobody (the delivery agent).
set -eu

command="$1"
folder="$2"
etc="$folder/etc"

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

case "$command" in
stop)
  postfix -c "$etc" stop >/dev/null 2>&1 || true
  # The master leaves when its children have; wait for its pid file to go.
  for _ in $(seq 1 100); do
    [ -s "$folder/queue/pid/master.pid" ] || break
    kill -0 "$(tr -d ' ' < "$folder/queue/pid/master.pid")" 2>/dev/null || break
    sleep 0.1
  done
  exit 0
  ;;
start) ;;
*) echo "usage: $0 start|stop FOLDER ..." >&2; exit 2 ;;
esac

cert="$3"
key="$4"
user="$5"
password="$6"

# The delivery agent runs as nobody and walks down to the maildirs.
mkdir -p "$folder"
chmod 0755 "$folder"
mkdir -p "$etc/sasl" "$folder/queue" "$folder/data" "$folder/mail"
chown root:root "$folder/queue"
chown postfix:postfix "$folder/data"
chown 65534:65534 "$folder/mail"
cp "$cert" "$etc/server.crt"
cp "$key" "$etc/server.key"
chmod 0600 "$etc/server.key"

cat > "$etc/sasl/smtpd.conf" <<CONF
pwcheck_method: auxprop
auxprop_plugin: sasldb
mech_list: PLAIN LOGIN CRAM-MD5
sasldb_path: $etc/sasl/sasldb2
CONF
printf '%s' "$password" | saslpasswd2 -f "$etc/sasl/sasldb2" -p -c -u x.test "$user"
chown postfix:postfix "$etc/sasl/sasldb2"
chmod 0640 "$etc/sasl/sasldb2"

smtp_port=$(free_port)
smtps_port=$(free_port)
while [ "$smtps_port" = "$smtp_port" ]; do smtps_port=$(free_port); done

cat > "$etc/main.cf" <<CONF
compatibility_level = 3.6
queue_directory = $folder/queue
data_directory = $folder/data
meta_directory = /etc/postfix
mail_owner = postfix
setgid_group = postdrop
myhostname = mail.x.test
mydomain = x.test
mydestination =
inet_interfaces = loopback-only
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
maillog_file = $folder/maillog
maillog_file_prefixes = $folder
alias_maps =
alias_database =
local_recipient_maps =
relay_domains =
relayhost =
default_transport = error:no mail leaves this test server
virtual_mailbox_domains = x.test
virtual_mailbox_base = $folder/mail
virtual_mailbox_maps = static:inbox/
virtual_uid_maps = static:65534
virtual_gid_maps = static:65534
virtual_minimum_uid = 100
message_size_limit = 0
virtual_mailbox_limit = 0
strict_7bit_headers = yes
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
cyrus_sasl_config_path = $etc/sasl
smtpd_sasl_local_domain = x.test
smtpd_sasl_security_options = noanonymous
smtpd_tls_auth_only = no
smtpd_tls_security_level = may
smtpd_tls_cert_file = $etc/server.crt
smtpd_tls_key_file = $etc/server.key
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject_unauth_destination
smtpd_banner = \$myhostname ESMTP private test server
CONF

cat > "$etc/master.cf" <<CONF
127.0.0.1:$smtp_port inet n - n - - smtpd
127.0.0.1:$smtps_port inet n - n - - smtpd -o smtpd_tls_wrappermode=yes -o smtpd_tls_security_level=encrypt
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
tlsmgr    unix  -       -       n       1000?   1       tlsmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
proxywrite unix -       -       n       -       1       proxymap
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
virtual   unix  -       n       n       -       -       virtual
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
CONF

postfix -c "$etc" check
postfix -c "$etc" start
echo "$smtp_port" > "$folder/smtp.port"
echo "$smtps_port" > "$folder/smtps.port"
