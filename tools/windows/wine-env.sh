# Sourced by the Windows scripts: a quiet Wine without a display, run from the
# Wine 10 root (wine-root.sh), the Wine loader for the build under test, and
# the helpers that give one run a Wine prefix and a Wine server of its own.
# shellcheck shell=bash

# Quiet unless the caller asks for a trace (the end-to-end tests ask for the
# loader's, into a file of each start).
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
unset DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR

pelorin_windows_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck disable=SC2034 # for the scripts that source this
pelorin_cache_dir=${PELORIN_CACHE_DIR:-/var/cache/pelorin}

# The build under test (test-arch.sh): i686, the product, or x86_64, the test
# build for machines that run no 32-bit programs. The `wine` launcher starts
# Wine's 32-bit loader whenever wine32 is installed, which such a machine
# cannot run; Wine's 64-bit loader runs 64-bit programs alone, and
# WINELOADER makes Wine start every further program with it too.
pelorin_test_arch=${PELORIN_WINDOWS_TEST_ARCH:-i686}
case $pelorin_test_arch in
  x86_64)
    pelorin_wine=/usr/lib/wine/wine64
    export WINELOADER=$pelorin_wine
    ;;
  *) pelorin_wine=wine ;;
esac

# Runs a Linux program of the Wine root (wine, wineserver) in it.
in_wine_root() {
  bash "$pelorin_windows_tools/wine-root.sh" run "$@"
}

# Whether a Wine server for WINEPREFIX is up: its socket lives in the root's
# /tmp (PELORIN_WINE_TMP when set), in a folder named after the prefix's
# device and inode (below .wine-UID or, as Debian builds Wine, a wine-XXXXXX
# folder).
wine_server_running() {
  local dev ino tmp dir sock
  if [ -n "${PELORIN_WINE_TMP:-}" ]; then
    tmp=$PELORIN_WINE_TMP
  else
    tmp=$(bash "$pelorin_windows_tools/wine-root.sh" path)/tmp
  fi
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  dir=$(printf 'server-%x-%x' "$dev" "$ino")
  for sock in "$tmp"/.wine-"$(id -u)"/"$dir"/socket "$tmp"/wine-*/"$dir"/socket; do
    [ -S "$sock" ] && return 0
  done
  return 1
}

# A Wine prefix and a Wine server of this run's own, for the rest of the
# script: the cached template prefix (setup-wine.sh) seen through an overlay
# in a temporary folder, which also holds the root's /tmp for this run (the
# server's socket), so that no other suite's server shares the prefix and no
# `wineserver -k` reaches another suite's. The overlay (the template is
# 0.8-1.4 GB) needs a mount namespace of the run's own (tools/isolated.sh);
# elsewhere the template is copied. All gone on the way out (EXIT trap).
# Wine's background services start now, so that no test pays Wine's start-up,
# with nothing of Wine holding our output open: CI waits for it to close.
# The server runs in the mount namespace of the run that started it and opens
# files for every later one: PELORIN_WINE_BINDS must be set before.
use_own_wine_prefix() {
  local template run
  template=$(bash "$pelorin_windows_tools/setup-wine.sh")
  run=$(mktemp -d /tmp/pelorin-wine.XXXXXX)
  pelorin_wine_run_dir=$run
  trap stop_own_wine_prefix EXIT
  mkdir "$run/prefix" "$run/tmp" "$run/upper" "$run/work"
  if [ "${PELORIN_ISOLATED:-0}" = 1 ] && mount -t overlay overlay \
    -o "lowerdir=$template,upperdir=$run/upper,workdir=$run/work" "$run/prefix" 2>/dev/null; then
    pelorin_wine_overlay=1
  else
    cp -a "$template/." "$run/prefix"
  fi
  export WINEPREFIX=$run/prefix PELORIN_WINE_TMP=$run/tmp
  in_wine_root wineserver -p </dev/null >/dev/null 2>&1
  in_wine_root "$pelorin_wine" wineboot </dev/null >/dev/null 2>&1 || true
}

stop_own_wine_prefix() {
  [ -n "${pelorin_wine_run_dir:-}" ] || return 0
  in_wine_root wineserver -k >/dev/null 2>&1 || true
  in_wine_root wineserver -w >/dev/null 2>&1 || true
  [ "${pelorin_wine_overlay:-0}" = 1 ] && { umount "$pelorin_wine_run_dir/prefix" || umount -l "$pelorin_wine_run_dir/prefix" || true; }
  rm -rf "$pelorin_wine_run_dir"
  pelorin_wine_run_dir=
}
