#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine, headless and quiet; used as
# CMake's cross-compiling emulator so ctest and test discovery work on Linux.
# The prefix is $WINEPREFIX, else $PELORIN_WINE_PREFIX, else
# /var/cache/pelorin/wine-prefix; it is created on first use.
set -euo pipefail

export WINEPREFIX=${WINEPREFIX:-${PELORIN_WINE_PREFIX:-/var/cache/pelorin/wine-prefix}}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ] || ! command -v wine >/dev/null; then
  "$(dirname "$0")/setup-wine.sh" "$WINEPREFIX" >/dev/null
fi

# Whether a Wine server for this prefix is up: its socket lives in a folder
# named after the prefix's device and inode.
server_running() {
  local dev ino dir sock
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  dir=$(printf 'server-%x-%x' "$dev" "$ino")
  for sock in /tmp/.wine-"$(id -u)"/"$dir"/socket /tmp/wine-*/"$dir"/socket; do
    [ -S "$sock" ] && return 0
  done
  return 1
}

# Starting Wine costs 1-2 s per process when no server is up, so start one that
# lingers for a minute after the last program, together with Wine's background
# services. Both are started here with their output on /dev/null: services
# started by the program itself would inherit its stdout, and ctest waits for
# that pipe to close.
if ! server_running; then
  exec 9>"$WINEPREFIX/.pelorin-wine-run.lock"
  flock 9
  if ! server_running; then
    # 9>&-: the lingering server must not inherit, and so hold, the lock.
    wineserver -p 60 </dev/null >/dev/null 2>&1 9>&- || true
    wine wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
  exec 9>&-
fi

exec wine "$@"
