#!/bin/sh
# Installs the Debian packages the build and the tests need, when run as root
# and something is missing. As another user it only reports what is missing.
set -eu
packages="cmake ninja-build g++ g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine wine64
  googletest libgtest-dev libgmock-dev libbenchmark-dev nettle-dev pkg-config libcli11-dev nlohmann-json3-dev socat python3
  libedit-dev"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
  echo "Installing:$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
else
  echo "Missing Debian packages (run as root to install them):$missing" >&2
  exit 1
fi
