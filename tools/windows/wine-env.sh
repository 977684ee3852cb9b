# Sourced by the Windows scripts once WINEPREFIX is set: a quiet Wine without
# a display, run from the Wine 10 root (wine-root.sh), and the helpers to keep
# one Wine server up for a whole run.
# shellcheck shell=bash

export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
unset DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR

pelorin_windows_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Runs a Linux program of the Wine root (wine, wineserver, wineboot) in it.
in_wine_root() {
  bash "$pelorin_windows_tools/wine-root.sh" run "$@"
}

# Whether a Wine server for the prefix is up: its socket lives in the root's
# /tmp, in a folder named after the prefix's device and inode (below
# .wine-UID or, as Debian builds Wine, a wine-XXXXXX folder).
wine_server_running() {
  local dev ino root dir sock
  root=$(bash "$pelorin_windows_tools/wine-root.sh" path)
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  dir=$(printf 'server-%x-%x' "$dev" "$ino")
  for sock in "$root"/tmp/.wine-"$(id -u)"/"$dir"/socket "$root"/tmp/wine-*/"$dir"/socket; do
    [ -S "$sock" ] && return 0
  done
  return 1
}

# One Wine server and its background services for the rest of the script,
# so that no test pays Wine's start-up; stopped on the way out. A server that
# someone else started is theirs to stop. Nothing of Wine may keep our output
# open: CI waits for it to close.
# The server runs in the mount namespace of the run that started it and opens
# files for every later one: PELORIN_WINE_BINDS must be set before.
keep_wine_server_for_this_run() {
  if ! wine_server_running; then
    in_wine_root wineserver -p </dev/null >/dev/null 2>&1
    pelorin_wine_server_ours=1
    trap stop_wine_server_if_ours EXIT
  fi
  in_wine_root wine wineboot </dev/null >/dev/null 2>&1 || true
}

stop_wine_server_if_ours() {
  [ "${pelorin_wine_server_ours:-0}" = 1 ] || return 0
  in_wine_root wineserver -k >/dev/null 2>&1 || true
  in_wine_root wineserver -w >/dev/null 2>&1 || true
}
