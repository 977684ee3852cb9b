#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine 10 (from the root of
# wine-root.sh), headless and quiet; used as CMake's cross-compiling emulator
# so ctest and test discovery work on Linux. The prefix is $WINEPREFIX, else
# $PELORIN_WINE_PREFIX, else /var/cache/pelorin/wine-prefix; it is created on
# first use.
set -euo pipefail

export WINEPREFIX=${WINEPREFIX:-${PELORIN_WINE_PREFIX:-/var/cache/pelorin/wine-prefix}}
# shellcheck source=wine-env.sh
source "$(dirname "$0")/wine-env.sh"

if [ ! -f "$WINEPREFIX/.pelorin-wine-version" ]; then
  "$(dirname "$0")/setup-wine.sh" "$WINEPREFIX" >/dev/null
fi

# Starting Wine costs 1-2 s per process when no server is up, so start one that
# lingers for a minute after the last program, together with Wine's background
# services. Both are started here with their output on /dev/null: services
# started by the program itself would inherit its stdout, and ctest waits for
# that pipe to close.
if ! wine_server_running; then
  exec 9>"$WINEPREFIX/.pelorin-wine-run.lock"
  flock 9
  if ! wine_server_running; then
    # 9>&-: the lingering server must not inherit, and so hold, the lock.
    in_wine_root wineserver -p 60 </dev/null >/dev/null 2>&1 9>&- || true
    in_wine_root wine wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
  exec 9>&-
fi

exec bash "$(dirname "$0")/wine-root.sh" run wine "$@"
