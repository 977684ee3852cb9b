#!/usr/bin/env bash
# Installs the Debian packages the native build, the tests and the demo need.
# Idempotent, and quiet when everything is already there.
set -euo pipefail

# python3-pyftpdlib and openssh-server: the FTP and SFTP mirrors of the
# end-to-end scenarios (their own instances on loopback ports); time: GNU time,
# which reads the peak memory of a run.
packages=(build-essential cmake ninja-build pkg-config libcurl4-openssl-dev libtinyxml-dev
          libgtest-dev libssl-dev openssl curl python3 msitools wixl clang-format time
          python3-pyftpdlib openssh-server openssh-client)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
export DEBIAN_FRONTEND=noninteractive
sudo_if_needed apt-get -o DPkg::Lock::Timeout=120 update -qq >&2
sudo_if_needed apt-get -o DPkg::Lock::Timeout=120 install -y -qq --no-install-recommends \
  "${missing[@]}" >&2
