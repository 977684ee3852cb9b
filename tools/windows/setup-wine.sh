#!/usr/bin/env bash
# Installs Debian's Wine if missing and creates (or refreshes) a 64-bit Wine
# prefix for running the cross-built Windows binaries headless.
#
# Usage: tools/windows/setup-wine.sh [PREFIX]
#   PREFIX defaults to $PELORIN_WINE_PREFIX, else /var/cache/pelorin/wine-prefix.
# Prints the prefix path as its last line on stdout; everything else goes to
# stderr, so callers can do WINEPREFIX=$(tools/windows/setup-wine.sh).
set -euo pipefail

exec 3>&1 1>&2

prefix=${1:-${PELORIN_WINE_PREFIX:-/var/cache/pelorin/wine-prefix}}

log() { echo "setup-wine: $*"; }

missing_packages() {
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
      echo "$pkg"
    fi
  done
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Debian's "wine" package is the front end; "wine64" carries the 64-bit loader.
mapfile -t missing < <(missing_packages wine wine64)
if [ "${#missing[@]}" -gt 0 ]; then
  log "installing ${missing[*]}"
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    -o DPkg::Lock::Timeout=120 --no-install-recommends "${missing[@]}"
fi

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
# No display: keep wineboot from trying to open windows or install Mono/Gecko.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

if [ -f "$prefix/system.reg" ] && [ -d "$prefix/drive_c/windows/system32" ]; then
  # An existing prefix only needs updating when the installed Wine is newer
  # than the one that made it; wineboot -u is cheap when nothing changed.
  stamp=$prefix/.pelorin-wine-version
  version=$(wine --version 2>/dev/null || true)
  if [ "$(cat "$stamp" 2>/dev/null)" != "$version" ]; then
    log "refreshing prefix $prefix for $version"
    wineboot -u
    wineserver -w
    echo "$version" >"$stamp"
  fi
else
  log "creating 64-bit prefix $prefix"
  mkdir -p "$(dirname "$prefix")"
  rm -rf "$prefix"
  wineboot --init
  wineserver -w
  wine --version >"$prefix/.pelorin-wine-version"
fi

echo "$prefix" >&3
