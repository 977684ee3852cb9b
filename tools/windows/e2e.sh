#!/usr/bin/env bash
# Replays the end-to-end scenarios (tests/e2e/scenarios), the scheduled-task
# and the launcher tests against the Windows build under Wine 10: builds the
# Windows updater with the native test build's loopback main manifest URL,
# builds the stand-ins beside it (tools/windows/standins), builds the native
# test runner when needed, and runs the tests named EndToEnd*WineBuild*
# through ctest, the runner driving `wine PelorinAutoUpdate.exe` in the Wine
# root (wine-root.sh). The updater is the i686 product (build/windows-e2e)
# or, where this machine runs no 32-bit programs (test-arch.sh,
# PELORIN_WINDOWS_TEST_ARCH), the x86_64 test build (build/windows-e2e-x86_64)
# under 64-bit Wine. Every file the tests lay out lies in one temporary folder
# of this run, bound into the root at the same path. The tests run in
# namespaces of their own (tools/isolated.sh: the main server's fixed port,
# the browser's and the updater's names), in a copy of the template prefix
# with a Wine server of their own (wine-env.sh), gone at the end.
#
# Usage: tools/windows/e2e.sh [extra ctest arguments]
# PELORIN_E2E_NATIVE_BUILD names the native build (default build/debug-asan,
# configured with the debug-asan preset when missing); PELORIN_WINDOWS_JUNIT,
# when set, is where ctest writes its JUnit report.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

jobs=${PELORIN_BUILD_JOBS:-2}
main_url=https://localhost:48443/Win/UpdateWin.xml
native_build=${PELORIN_E2E_NATIVE_BUILD:-build/debug-asan}

phase_started=$(date +%s)
phase() {
  local now
  now=$(date +%s)
  echo "windows-e2e: $1 ($((now - phase_started)) s)" >&2
  phase_started=$now
}

if [ "${1:-}" != --in-namespaces ]; then
  # What needs the network or the shared caches, before the namespaces
  # (build.sh has done it and passes it on).
  export PELORIN_WINDOWS_E2E_STARTED=$phase_started
  if [ -z "${PELORIN_WINDOWS_TEST_ARCH:-}" ] || [ -z "${PELORIN_WINDOWS_TEST_DEPS:-}" ]; then
    PELORIN_WINDOWS_TEST_ARCH=$(bash tools/windows/test-arch.sh)
    PELORIN_WINDOWS_TEST_DEPS=$(bash tools/windows/build-deps.sh "$PELORIN_WINDOWS_TEST_ARCH")
    bash tools/windows/setup-wine.sh >/dev/null
  fi
  export PELORIN_WINDOWS_TEST_ARCH PELORIN_WINDOWS_TEST_DEPS
  exec bash tools/isolated.sh bash tools/windows/e2e.sh --in-namespaces "$@"
fi
shift
arch=$PELORIN_WINDOWS_TEST_ARCH
preset=windows windows_build=build/windows-e2e
[ "$arch" = i686 ] || preset=windows-$arch windows_build=build/windows-e2e-$arch

mkdir -p "$windows_build"
# A build made with other dependencies (or another toolchain) configures afresh.
cached_deps=$(sed -n 's/^PELORIN_WINDOWS_DEPS:[A-Z]*=//p' "$windows_build/CMakeCache.txt" 2>/dev/null || true)
fresh=()
[ "$cached_deps" = "$PELORIN_WINDOWS_TEST_DEPS" ] || fresh=(--fresh)
# The tests of the Windows build run in build/windows(-x86_64); only the
# updaters are needed here.
cmake --preset "$preset" -B "$windows_build" "${fresh[@]}" \
  -DPELORIN_WINDOWS_DEPS="$PELORIN_WINDOWS_TEST_DEPS" -DPELORIN_BUILD_TESTS=OFF \
  -DPELORIN_MAIN_MANIFEST_URL="$main_url" >"$windows_build/configure.log" 2>&1 ||
  { cat "$windows_build/configure.log" >&2; exit 1; }
# The one with the test release key too, for the scenarios of signed releases.
cmake --build "$windows_build" -j "$jobs" --target PelorinAutoUpdate PelorinAutoUpdate-signed
# The scenarios run the updater as shipped: stripped, its symbols beside it.
format=$($arch-w64-mingw32-objdump -f "$windows_build/PelorinAutoUpdate.exe")
if grep -q HAS_SYMS <<<"$format" || [ ! -f "$windows_build/PelorinAutoUpdate.exe.debug" ]; then
  echo "windows-e2e: $windows_build/PelorinAutoUpdate.exe is not stripped" >&2
  exit 1
fi
PELORIN_MINGW_CXX=$arch-w64-mingw32-g++-posix \
  bash tools/windows/standins/build-standins.sh "$windows_build/standins"
phase "Windows updater ($arch) and stand-ins built"

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
# tools/test.sh may be building the same folder: one ninja at a time.
flock "$native_build/.pelorin-build.lock" cmake --build "$native_build" -j "$jobs" --target pelorin_tests
phase "native test runner built in $native_build"

# shellcheck source=wine-env.sh
source tools/windows/wine-env.sh
# The tests' temporary folders, seen by Wine at the same paths.
e2e_tmp=$(mktemp -d /tmp/pelorin-wine-e2e.XXXXXX)
export PELORIN_WINE_BINDS=$e2e_tmp
use_own_wine_prefix
trap 'stop_own_wine_prefix; rm -rf "$e2e_tmp"' EXIT
export TMPDIR=$e2e_tmp
phase "Wine prefix and server of this run's own in $pelorin_wine_run_dir"

export PELORIN_E2E_WINE_PREFIX=$WINEPREFIX
export PELORIN_E2E_WINDOWS_EXE=$root/$windows_build/PelorinAutoUpdate.exe
export PELORIN_E2E_WINDOWS_STANDINS=$root/$windows_build/standins
left_out=()
# A 64-bit updater reads machine keys in the 64-bit registry view: only the
# 32-bit one shows the 32-bit view, which a machine-wide installation uses.
not_run=()
if [ "$arch" != i686 ]; then
  mapfile -t not_run < <(grep -l 'level="System"' tests/e2e/scenarios/*/scenario.xml |
    xargs -r -n1 dirname | xargs -r -n1 basename)
  left_out+=("${not_run[@]}")
fi
skip=()
[ "${#left_out[@]}" -eq 0 ] ||
  skip=(-E "WineBuild\.Replays/($(IFS='|' && echo "${left_out[*]}"))( |\$)")
junit=()
[ -n "${PELORIN_WINDOWS_JUNIT:-}" ] && junit=(--output-junit "$PELORIN_WINDOWS_JUNIT")
ctest --test-dir "$native_build" -R 'EndToEnd.?WineBuild' "${skip[@]}" --output-on-failure \
  --no-tests=error "${junit[@]}" "$@"
phase "end-to-end tests of the $arch build under Wine passed"

names=
[ "${#not_run[@]}" -eq 0 ] || names=$(printf 'EndToEnd/WineBuild.Replays/%s, ' "${not_run[@]}")
echo "windows-e2e: not run (only a 32-bit process can show them): ${#not_run[@]}${names:+ — ${names%, }}" >&2
if [ -n "${PELORIN_WINDOWS_NOT_RUN:-}" ] && [ "${#not_run[@]}" -gt 0 ]; then
  printf 'EndToEnd/WineBuild.Replays/%s\n' "${not_run[@]}" >>"$PELORIN_WINDOWS_NOT_RUN"
fi

echo "windows-e2e: done in $(($(date +%s) - PELORIN_WINDOWS_E2E_STARTED)) s" >&2
