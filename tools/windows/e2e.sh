#!/usr/bin/env bash
# Replays the end-to-end scenarios (tests/e2e/scenarios), the scheduled-task
# and the registry-view tests against the Windows build under Wine 10:
# builds the Windows updater into build/windows-e2e with the native test
# build's loopback main manifest URL, builds the stand-ins beside it
# (tools/windows/standins), builds the native test runner when needed, and
# runs the tests named EndToEnd*WineBuild* through ctest, the runner driving
# `wine PelorinAutoUpdate.exe` in the Wine root (wine-root.sh). Every file the
# tests lay out lies in one temporary folder of this run, bound into the root
# at the same path.
#
# Usage: tools/windows/e2e.sh [extra ctest arguments]
# PELORIN_E2E_NATIVE_BUILD names the native build (default build/debug-asan,
# configured with the debug-asan preset when missing); PELORIN_E2E_WINE_PREFIX
# names the Wine prefix of these tests (default
# /var/cache/pelorin/wine-prefix-e2e): its registry, log and tasks are
# rewritten, so it is not the prefix of the unit tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

jobs=${PELORIN_BUILD_JOBS:-2}
main_url=https://localhost:48443/Win/UpdateWin.xml
windows_build=build/windows-e2e
native_build=${PELORIN_E2E_NATIVE_BUILD:-build/debug-asan}

started=$SECONDS
phase_started=$SECONDS
phase() {
  echo "windows-e2e: $1 ($((SECONDS - phase_started)) s)" >&2
  phase_started=$SECONDS
}

PELORIN_WINDOWS_DEPS=$(bash tools/windows/build-deps.sh)
export PELORIN_WINDOWS_DEPS
mkdir -p "$windows_build"
# A build made with other dependencies (or another toolchain) configures afresh.
cached_deps=$(sed -n 's/^PELORIN_WINDOWS_DEPS:[A-Z]*=//p' "$windows_build/CMakeCache.txt" 2>/dev/null || true)
fresh=()
[ "$cached_deps" = "$PELORIN_WINDOWS_DEPS" ] || fresh=(--fresh)
# The tests of the Windows build run in build/windows; only the updater is
# needed here.
cmake --preset windows -B "$windows_build" "${fresh[@]}" -DPELORIN_WINDOWS_DEPS="$PELORIN_WINDOWS_DEPS" \
  -DPELORIN_BUILD_TESTS=OFF -DPELORIN_MAIN_MANIFEST_URL="$main_url" \
  >"$windows_build/configure.log" 2>&1 ||
  { cat "$windows_build/configure.log" >&2; exit 1; }
cmake --build "$windows_build" -j "$jobs" --target PelorinAutoUpdate
bash tools/windows/standins/build-standins.sh "$windows_build/standins"
phase "Windows updater and stand-ins built"

if [ ! -f "$native_build/CMakeCache.txt" ]; then
  if [ "$native_build" = build/debug-asan ]; then
    cmake --preset debug-asan >/dev/null
  else
    cmake -S . -B "$native_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELORIN_SANITIZE=ON \
      -DPELORIN_BUILD_BENCH=OFF -DPELORIN_MAIN_MANIFEST_URL="$main_url" >/dev/null
  fi
fi
# The runner serves the main manifest where its own build asks for it.
native_url=$(sed -n 's/^PELORIN_MAIN_MANIFEST_URL:[A-Z]*=//p' "$native_build/CMakeCache.txt")
if [ "$native_url" != "$main_url" ]; then
  echo "windows-e2e: $native_build asks $native_url, the Windows build $main_url" >&2
  exit 1
fi
cmake --build "$native_build" -j "$jobs" --target pelorin_tests
phase "native test runner built in $native_build"

WINEPREFIX=$(bash tools/windows/setup-wine.sh "${PELORIN_E2E_WINE_PREFIX:-/var/cache/pelorin/wine-prefix-e2e}")
export WINEPREFIX
source tools/windows/wine-env.sh

# The tests' temporary folders, seen by Wine at the same paths.
e2e_tmp=$(mktemp -d /tmp/pelorin-wine-e2e.XXXXXX)
export TMPDIR=$e2e_tmp PELORIN_WINE_BINDS=$e2e_tmp
# A server left by another run of this prefix would not see this run's
# folder: it opens files in the mount namespace it was started in.
in_wine_root wineserver -k >/dev/null 2>&1 || true
keep_wine_server_for_this_run
trap 'stop_wine_server_if_ours; rm -rf "$e2e_tmp"' EXIT
phase "Wine prefix $WINEPREFIX ready"

export PELORIN_E2E_WINE_PREFIX=$WINEPREFIX
export PELORIN_E2E_WINDOWS_EXE=$root/$windows_build/PelorinAutoUpdate.exe
export PELORIN_E2E_WINDOWS_STANDINS=$root/$windows_build/standins
ctest --test-dir "$native_build" -R 'EndToEnd.?WineBuild' --output-on-failure \
  --no-tests=error "$@"
phase "end-to-end tests under Wine passed"

echo "windows-e2e: done in $((SECONDS - started)) s" >&2
