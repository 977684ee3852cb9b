#!/usr/bin/env bash
# Makes the Wine 10 root when missing (wine-root.sh) and the cached template
# prefix of the build under test (PELORIN_WINDOWS_TEST_ARCH, test-arch.sh): a
# 64-bit prefix, in which the i686 product runs through wine32, as a 32-bit
# program runs on 64-bit Windows, and the x86_64 test build through Wine's
# 64-bit loader alone. Nothing ever runs in the template: every suite runs in
# a copy of its own (wine-env.sh), and PREFIX, when given and not made yet,
# is such a copy too.
#
# Usage: tools/windows/setup-wine.sh [PREFIX]
# The template is ${PELORIN_CACHE_DIR:-/var/cache/pelorin}/wine-template-ARCH.
# Prints the prefix (PREFIX, else the template) as its last line on stdout;
# everything else goes to stderr, so callers can do
# WINEPREFIX=$(tools/windows/setup-wine.sh PREFIX).
set -euo pipefail

exec 3>&1 1>&2

here=$(cd "$(dirname "$0")" && pwd)

log() { echo "setup-wine: $*"; }

root=$(bash "$here/wine-root.sh" path)

unset PELORIN_WINE_TMP
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"

template=$pelorin_cache_dir/wine-template-$pelorin_test_arch
stamp=.pelorin-wine-version
version=$(in_wine_root "$pelorin_wine" --version)

if [ "$(cat "$template/$stamp" 2>/dev/null)" != "$version" ]; then
  mkdir -p "$pelorin_cache_dir"
  exec 9>"$template.lock"
  flock 9
  if [ "$(cat "$template/$stamp" 2>/dev/null)" != "$version" ]; then
    log "creating the $pelorin_test_arch template prefix $template with $version from $root"
    started=$SECONDS
    rm -rf "$template" "$template.partial"
    mkdir -p "$template.partial"
    # A Wine server of its own (a /tmp of its own), gone before the move.
    tmp=$(mktemp -d)
    WINEPREFIX=$template.partial WINEARCH=win64 PELORIN_WINE_TMP=$tmp \
      in_wine_root sh -c '"$1" wineboot --init && wineserver -w' wineboot "$pelorin_wine" \
      </dev/null
    rm -rf "$tmp"
    echo "$version" >"$template.partial/$stamp"
    mv "$template.partial" "$template"
    log "created in $((SECONDS - started)) s"
  fi
  exec 9>&-
fi

prefix=${1:-$template}
if [ "$prefix" != "$template" ] && [ "$(cat "$prefix/$stamp" 2>/dev/null)" != "$version" ]; then
  log "copying the $pelorin_test_arch template prefix to $prefix"
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  cp -a "$template" "$prefix"
fi

echo "$prefix" >&3
