#!/usr/bin/env bash
# Installs the Debian packages Quillmark needs to build, test and run.
# Only packages that are missing are installed; running it again is cheap.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-webengine-dev
  libcups2-dev cups cups-client cups-bsd cups-ipp-utils
  libxslt1-dev libxml2-dev xsltproc
  uuid-dev
  libkrb5-dev gss-ntlmssp
  libssl-dev openssl
  postfix sasl2-bin libsasl2-modules
  python3 python3-aiosmtpd
  xvfb xauth x11-utils imagemagick
  openbox trayer xdotool
  faketime
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix googletest wine wine64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# The mailer's tests run private Postfix instances on loopback ports from
# their own folders. The package itself is left unconfigured ("No
# configuration": no main.cf), so installing it never starts a system mail
# server listening on port 25.
echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
# cupsd is started by our own tests on private sockets; keep the package's
# service from starting during installation where policy-rc.d allows it.
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
