#!/usr/bin/env bash
# Installs the Debian packages that one of the README's commands needs.
# Idempotent, and quiet when everything is already there.
#
# Usage: tools/install-deps.sh [demo|tests]   (default: tests)
#   demo:  the release build of the updater and the publishing tool (libzstd
#          for delta releases), a sample release package (msitools, wixl) and
#          the demo's HTTPS server (python3, openssl for its certificates)
#   tests: the above, and GoogleTest, clang-format, GNU time (the peak memory
#          of a run), iproute2 (loopback in the suites' own network namespace),
#          the FTP and SFTP mirrors' programs (python3-pyftpdlib, sshd) and the
#          proxy the transfers are sent through (tinyproxy, and socat for its
#          TLS front)
#
# Nothing installed here starts or enables a service: the tests start their
# own sshd and tinyproxy on loopback ports, and the system's SSH and proxy
# services stay as they were.
set -euo pipefail

demo_packages=(build-essential cmake ninja-build pkg-config libcurl4-openssl-dev libtinyxml-dev
               libssl-dev libzstd-dev openssl python3 msitools wixl)
test_packages=("${demo_packages[@]}" libgtest-dev curl clang-format time iproute2
               python3-pyftpdlib openssh-server openssh-client tinyproxy socat)

case ${1:-tests} in
  demo) packages=("${demo_packages[@]}") ;;
  tests) packages=("${test_packages[@]}") ;;
  *) echo "usage: tools/install-deps.sh [demo|tests]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Packages may not start services while they install: a policy of our own,
# unless the machine already has one.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# Written by PelorinAutoUpdate'"'"'s tools/install-deps.sh.\nexit 101\n' |
    as_root tee "$policy" >/dev/null
  as_root chmod 755 "$policy"
  trap 'as_root rm -f "$policy"' EXIT
fi

export DEBIAN_FRONTEND=noninteractive
as_root apt-get -o DPkg::Lock::Timeout=120 update -qq >&2
as_root apt-get -o DPkg::Lock::Timeout=120 install -y -qq --no-install-recommends \
  "${missing[@]}" >&2

# openssh-server enables its service for the next boot when it installs; the
# tests want only its program. Disabled only where this set-up installed it.
if [[ " ${missing[*]} " == *" openssh-server "* ]]; then
  as_root deb-systemd-helper disable ssh.service ssh.socket >/dev/null 2>&1 || true
  as_root update-rc.d ssh disable >/dev/null 2>&1 || true
  echo "install-deps: openssh-server installed for its sshd program; the ssh service is" \
    "neither started nor enabled" >&2
fi
# tinyproxy likewise: the tests run its program in the foreground with a
# configuration of their own.
if [[ " ${missing[*]} " == *" tinyproxy "* ]]; then
  as_root deb-systemd-helper disable tinyproxy.service >/dev/null 2>&1 || true
  as_root update-rc.d tinyproxy disable >/dev/null 2>&1 || true
  echo "install-deps: tinyproxy installed for its program; its service is neither started" \
    "nor enabled" >&2
fi
