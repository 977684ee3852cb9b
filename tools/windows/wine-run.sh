#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine 10 (from the root of
# wine-root.sh), headless and quiet, with the Wine loader of the build under
# test (PELORIN_WINDOWS_TEST_ARCH, which each toolchain's emulator sets); used
# as CMake's cross-compiling emulator so ctest and test discovery work on
# Linux. The prefix is $WINEPREFIX (the scripts give each suite one of its
# own), else $PELORIN_WINE_PREFIX, else /var/cache/pelorin/wine-prefix-ARCH;
# it is copied from the template prefix (setup-wine.sh) on first use.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
export WINEPREFIX=${WINEPREFIX:-${PELORIN_WINE_PREFIX:-$pelorin_cache_dir/wine-prefix-$pelorin_test_arch}}

if [ ! -f "$WINEPREFIX/.pelorin-wine-version" ]; then
  bash "$here/setup-wine.sh" "$WINEPREFIX" >/dev/null
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
    in_wine_root "$pelorin_wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
  exec 9>&-
fi

exec bash "$here/wine-root.sh" run "$pelorin_wine" "$@"
