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
export WINEPREFIX
source tools/windows/wine-env.sh
phase "Wine prefix ready in $WINEPREFIX"

keep_wine_server_for_this_run
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

# The bundle as a browser's installer takes it: every file in the updater's
# folder, the release tools beside it.
bundle=$(mktemp -d)
cmake --install "$build_dir" --prefix "$bundle" >/dev/null
for file in PelorinAutoUpdate.exe BatchLauncher.vbs PelorinUpdateTask.xml pelorin-publish.exe \
  pelorin-mirrors.exe; do
  [ -f "$bundle/bin/$file" ] || { echo "windows-build: the bundle lacks bin/$file" >&2; exit 1; }
done
rm -rf "$bundle"
phase "bundle installs"

# The end-to-end scenarios and the scheduled-task commands under Wine, with a
# prefix and a Wine server of their own.
bash tools/windows/e2e.sh
phase "end-to-end scenarios under Wine passed"

echo "windows-build: done in $((SECONDS - started)) s" >&2
