#!/usr/bin/env bash
# Makes the Wine 10 root when missing (wine-root.sh) and creates (or
# refreshes) a 64-bit Wine prefix with 32-bit support in it, for running the
# cross-built 32-bit Windows binaries headless.
#
# Usage: tools/windows/setup-wine.sh [PREFIX]
#   PREFIX defaults to $PELORIN_WINE_PREFIX, else /var/cache/pelorin/wine-prefix.
# Prints the prefix path as its last line on stdout; everything else goes to
# stderr, so callers can do WINEPREFIX=$(tools/windows/setup-wine.sh).
set -euo pipefail

exec 3>&1 1>&2

prefix=${1:-${PELORIN_WINE_PREFIX:-/var/cache/pelorin/wine-prefix}}
here=$(cd "$(dirname "$0")" && pwd)

log() { echo "setup-wine: $*"; }

root=$(bash "$here/wine-root.sh" path)

# A 64-bit prefix runs 32-bit programs through wine32, as 64-bit Windows does.
export WINEPREFIX=$prefix WINEARCH=win64
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

version=$(in_wine_root wine --version)
stamp=$prefix/.pelorin-wine-version
if [ -f "$prefix/system.reg" ] && [ -d "$prefix/drive_c/windows/syswow64" ]; then
  # An existing prefix only needs updating when another Wine made it;
  # wineboot -u is cheap when nothing changed.
  if [ "$(cat "$stamp" 2>/dev/null)" != "$version" ]; then
    log "refreshing prefix $prefix for $version"
    in_wine_root sh -c 'wineboot -u && wineserver -w'
    echo "$version" >"$stamp"
  fi
else
  log "creating 64-bit prefix $prefix with $version from $root"
  started=$SECONDS
  rm -rf "$prefix"
  mkdir -p "$prefix"
  in_wine_root sh -c 'wineboot --init && wineserver -w'
  echo "$version" >"$stamp"
  log "created in $((SECONDS - started)) s"
fi

echo "$prefix" >&3
