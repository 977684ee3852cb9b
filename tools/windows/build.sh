#!/usr/bin/env bash
# The Windows build and its tests under Wine, as CI runs them: builds the
# mingw-w64 dependencies (cached outside the clone), the Wine root and its
# template prefix, cross-builds the product with the `windows` preset into
# build/windows, runs the Windows unit tests with ctest under Wine, checks the
# bundle and replays the end-to-end scenarios (tools/windows/e2e.sh).
#
# Where this machine runs 32-bit programs (tools/windows/test-arch.sh tries
# one), the tests run against the product, the i686 build, as always. Where it
# does not, the product is still built and checked (a pei-i386 program, its
# unit tests compiled), and the same unit tests and scenarios run against a
# build of the same sources for x86_64 under 64-bit Wine (the `windows-x86_64`
# preset, build/windows-x86_64), which is never shipped or installed; what
# only a 32-bit process can show is then reported as not run.
# PELORIN_WINDOWS_TEST_ARCH=x86_64 takes the 64-bit way on any machine.
#
# The tests run in namespaces of their own (tools/isolated.sh), with a Wine
# prefix and a Wine server of their own, so that two suites on one machine
# never meet.
#
# Usage: tools/windows/build.sh [extra ctest arguments for the unit tests]
# Works on a fresh Debian 12 machine: the scripts it calls install what they
# need. PELORIN_CACHE_DIR moves the caches.
set -euo pipefail
cd "$(dirname "$0")/../.."

jobs=${PELORIN_BUILD_JOBS:-2}
phase_started=$(date +%s)
phase() {
  local now
  now=$(date +%s)
  echo "windows-build: $1 ($((now - phase_started)) s)" >&2
  phase_started=$now
}

if [ "${1:-}" != --in-namespaces ]; then
  # What needs the network or the shared caches, before the namespaces.
  export PELORIN_WINDOWS_BUILD_STARTED=$phase_started
  PELORIN_WINDOWS_TEST_ARCH=$(bash tools/windows/test-arch.sh)
  export PELORIN_WINDOWS_TEST_ARCH
  if [ "$PELORIN_WINDOWS_TEST_ARCH" = i686 ]; then
    echo "windows-build: the Windows tests run against the i686 product under Wine" \
      "(this machine runs 32-bit programs)" >&2
  else
    echo "windows-build: the Windows tests run against an x86_64 test build under 64-bit" \
      "Wine; the i686 product is built and checked, not run" >&2
  fi
  PELORIN_WINDOWS_DEPS=$(bash tools/windows/build-deps.sh i686)
  export PELORIN_WINDOWS_DEPS
  phase "i686 dependencies ready in $PELORIN_WINDOWS_DEPS"
  if [ "$PELORIN_WINDOWS_TEST_ARCH" = x86_64 ]; then
    PELORIN_WINDOWS_TEST_DEPS=$(bash tools/windows/build-deps.sh x86_64)
    phase "x86_64 dependencies ready in $PELORIN_WINDOWS_TEST_DEPS"
  else
    PELORIN_WINDOWS_TEST_DEPS=$PELORIN_WINDOWS_DEPS
  fi
  export PELORIN_WINDOWS_TEST_DEPS
  bash tools/windows/setup-wine.sh >/dev/null
  phase "Wine root and $PELORIN_WINDOWS_TEST_ARCH template prefix ready"
  exec bash tools/isolated.sh bash tools/windows/build.sh --in-namespaces "$@"
fi
shift
arch=$PELORIN_WINDOWS_TEST_ARCH

# shellcheck source=wine-env.sh
source tools/windows/wine-env.sh
use_own_wine_prefix
reports=$pelorin_wine_run_dir/reports
mkdir "$reports"
phase "Wine prefix and server of this run's own in $pelorin_wine_run_dir"

# configure BUILD_DIR PRESET DEPS [CMAKE ARGS]: a build made with other
# dependencies (new Debian sources) configures afresh.
configure() {
  local dir=$1 preset=$2 deps=$3 cached fresh=()
  shift 3
  mkdir -p "$dir"
  cached=$(sed -n 's/^PELORIN_WINDOWS_DEPS:[A-Z]*=//p' "$dir/CMakeCache.txt" 2>/dev/null || true)
  [ "$cached" = "$deps" ] || fresh=(--fresh)
  cmake --preset "$preset" -B "$dir" "${fresh[@]}" -DPELORIN_WINDOWS_DEPS="$deps" "$@" \
    >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log" >&2; exit 1; }
}

# The product. Its unit tests are discovered under Wine where it runs, else
# only compiled and linked (discovered at test time, which never comes).
discovery=POST_BUILD
[ "$arch" = i686 ] || discovery=PRE_TEST
# Discovery after the build happens only when the tests relink.
grep -qx "CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE:[A-Z]*=$discovery" \
  build/windows/CMakeCache.txt 2>/dev/null || rm -f build/windows/pelorin_tests.exe
configure build/windows windows "$PELORIN_WINDOWS_DEPS" \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=$discovery
cmake --build build/windows -j "$jobs"
product=build/windows/PelorinAutoUpdate.exe
format=$(i686-w64-mingw32-objdump -f "$product")
grep -q 'file format pei-i386' <<<"$format" ||
  { echo "windows-build: the product is no 32-bit program: $format" >&2; exit 1; }
# Shipped stripped; its symbols beside the build, named by the program.
symbols=$(i686-w64-mingw32-objdump -f "$product.debug")
if grep -q HAS_SYMS <<<"$format" || ! grep -q HAS_SYMS <<<"$symbols" ||
  [[ "$(i686-w64-mingw32-objdump -s -j .gnu_debuglink "$product" |
    sed -n 's/^ [0-9a-f]\{6,\} .\{35\}  //p' | tr -d '\n')" != PelorinAutoUpdate.exe.debug.* ]]; then
  echo "windows-build: the product is not stripped with its symbols in $product.debug" >&2
  exit 1
fi
phase "i686 product built (pei-i386, stripped: $(stat -c %s "$product") bytes; symbols in\
 $product.debug, $(stat -c %s "$product.debug") bytes)"

# The bundle as a browser's installer takes it: every file in the updater's
# folder, the release tools beside it.
bundle=$(mktemp -d)
cmake --install build/windows --prefix "$bundle" >/dev/null
for file in PelorinAutoUpdate.exe BatchLauncher.vbs PelorinUpdateTask.xml pelorin-publish.exe \
  pelorin-mirrors.exe; do
  [ -f "$bundle/bin/$file" ] || { echo "windows-build: the bundle lacks bin/$file" >&2; exit 1; }
done
cmp -s "$product" "$bundle/bin/PelorinAutoUpdate.exe" && [ ! -e "$bundle/bin/PelorinAutoUpdate.exe.debug" ] ||
  { echo "windows-build: the bundle's updater is not the stripped one alone" >&2; exit 1; }
rm -rf "$bundle"
phase "bundle installs"

tests_dir=build/windows
if [ "$arch" = x86_64 ]; then
  tests_dir=build/windows-x86_64
  configure "$tests_dir" windows-x86_64 "$PELORIN_WINDOWS_TEST_DEPS"
  cmake --build "$tests_dir" -j "$jobs"
  phase "x86_64 test build built (test discovery under Wine included)"
fi

# No test is run twice: one that fails once has found something.
ctest --test-dir "$tests_dir" --output-on-failure --no-tests=error -j "$jobs" \
  --output-junit "$reports/unit.xml" "$@"
phase "unit tests of the $arch build under Wine passed"

# The end-to-end scenarios and the scheduled-task commands under Wine, with a
# prefix and a Wine server of their own.
PELORIN_WINDOWS_JUNIT=$reports/e2e.xml PELORIN_WINDOWS_NOT_RUN=$reports/e2e-not-run \
  bash tools/windows/e2e.sh
phase "end-to-end scenarios of the $arch build under Wine passed"

# Counted from ctest's reports: the tests run, those skipped (under Wine by
# design, see tests/e2e/README.md) and, apart, those not run because only a
# 32-bit process can show what they check: skipped with that message (the
# unit tests) or left out by e2e.sh (the scenarios).
count() { sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$2" | head -n1; }
only_32bit() {
  awk '/<testcase /{ match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7) }
       /only a 32-bit process can show/ && name != "" { print name; name = "" }' "$1"
}
only_32bit "$reports/unit.xml" >"$reports/unit-not-run"
touch "$reports/e2e-not-run"
for report in unit e2e; do
  total=$(count tests "$reports/$report.xml")
  skipped=$(count skipped "$reports/$report.xml")
  not_run=$(wc -l <"$reports/$report-not-run")
  # e2e.sh leaves its own out of ctest; the unit tests skip theirs.
  skipped_32bit=$not_run
  [ "$report" = e2e ] && skipped_32bit=0
  echo "windows-build: $report tests of the $arch build: $((total - skipped)) passed," \
    "$((skipped - skipped_32bit)) skipped under Wine, $not_run not run (32-bit only)" >&2
done
mapfile -t not_run < <(cat "$reports/unit-not-run" "$reports/e2e-not-run")
names=
[ "${#not_run[@]}" -eq 0 ] || names=" — $(printf '%s, ' "${not_run[@]}")"
echo "windows-build: not run (only a 32-bit process can show them): ${#not_run[@]}${names%, }" >&2
echo "windows-build: done in $(($(date +%s) - PELORIN_WINDOWS_BUILD_STARTED)) s" \
  "(the tests ran against the $arch build)" >&2
