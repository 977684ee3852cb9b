# Sourced by the Windows scripts once WINEPREFIX is set: a quiet Wine without
# a display, and the helpers to keep one Wine server up for a whole run.
# shellcheck shell=bash

export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
unset DISPLAY WAYLAND_DISPLAY

# Whether a Wine server for the prefix is up: its socket lives in a folder
# named after the prefix's device and inode.
wine_server_running() {
  local dev ino dir sock
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  dir=$(printf 'server-%x-%x' "$dev" "$ino")
  for sock in /tmp/.wine-"$(id -u)"/"$dir"/socket /tmp/wine-*/"$dir"/socket; do
    [ -S "$sock" ] && return 0
  done
  return 1
}

# One Wine server and its background services for the rest of the script,
# so that no test pays Wine's start-up; stopped on the way out. A server that
# someone else started is theirs to stop. Nothing of Wine may keep our output
# open: CI waits for it to close.
keep_wine_server_for_this_run() {
  if ! wine_server_running; then
    wineserver -p </dev/null >/dev/null 2>&1
    trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true' EXIT
  fi
  wine wineboot </dev/null >/dev/null 2>&1 || true
}
