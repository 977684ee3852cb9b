#!/usr/bin/env bash
# The Windows build and its tests under Wine, as CI runs them: builds the
# mingw-w64 dependencies (cached outside the clone), sets up the Wine prefix,
# cross-builds everything with the `windows` preset into build/windows and runs
# the Windows unit tests with ctest under Wine.
#
# Usage: tools/windows/build.sh [extra ctest arguments]
# Works on a fresh Debian 12 machine: the scripts it calls install what they
# need. PELORIN_CACHE_DIR and PELORIN_WINE_PREFIX move the caches.
set -euo pipefail
cd "$(dirname "$0")/../.."

jobs=${PELORIN_BUILD_JOBS:-2}
build_dir=build/windows

started=$SECONDS
phase_started=$SECONDS
phase() {
  echo "windows-build: $1 ($((SECONDS - phase_started)) s)" >&2
  phase_started=$SECONDS
}

PELORIN_WINDOWS_DEPS=$(bash tools/windows/build-deps.sh)
export PELORIN_WINDOWS_DEPS
phase "dependencies ready in $PELORIN_WINDOWS_DEPS"

WINEPREFIX=$(bash tools/windows/setup-wine.sh)
export WINEPREFIX WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
phase "Wine prefix ready in $WINEPREFIX"

# Whether a Wine server for the prefix is up (its socket lives in a folder
# named after the prefix's device and inode).
wine_server_running() {
  local dev ino dir sock
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  dir=$(printf 'server-%x-%x' "$dev" "$ino")
  for sock in /tmp/.wine-"$(id -u)"/"$dir"/socket /tmp/wine-*/"$dir"/socket; do
    [ -S "$sock" ] && return 0
  done
  return 1
}

# One Wine server and its background services for the whole run, so that no
# test pays Wine's start-up; stopped on the way out. A server that someone
# else started is theirs to stop. Nothing of Wine may keep our output open:
# CI waits for it to close.
if ! wine_server_running; then
  wineserver -p </dev/null >/dev/null 2>&1
  trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true' EXIT
fi
wine wineboot </dev/null >/dev/null 2>&1 || true
phase "Wine server up"

# Find results cached from another dependency build must not stay: a new one
# (new Debian sources) configures afresh.
mkdir -p "$build_dir"
cached_deps=$(sed -n 's/^PELORIN_WINDOWS_DEPS:[A-Z]*=//p' "$build_dir/CMakeCache.txt" 2>/dev/null || true)
fresh=()
[ "$cached_deps" = "$PELORIN_WINDOWS_DEPS" ] || fresh=(--fresh)
cmake --preset windows "${fresh[@]}" -DPELORIN_WINDOWS_DEPS="$PELORIN_WINDOWS_DEPS" \
  >"$build_dir/configure.log" 2>&1 ||
  { cat "$build_dir/configure.log" >&2; exit 1; }
phase "configured"
cmake --build "$build_dir" -j "$jobs"
phase "built (test discovery under Wine included)"

ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$jobs" "$@"
phase "unit tests under Wine passed"

# The end-to-end scenarios and the scheduled-task commands under Wine, with a
# prefix and a Wine server of their own.
bash tools/windows/e2e.sh
phase "end-to-end scenarios under Wine passed"

echo "windows-build: done in $((SECONDS - started)) s" >&2
