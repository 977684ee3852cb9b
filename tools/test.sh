#!/usr/bin/env bash
# Builds the native debug build with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, in network and PID namespaces of the suite's own
# (tools/isolated.sh), so that another suite on this machine never shares its
# ports or its processes. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh tests
mkdir -p build/debug-asan
# tools/windows/e2e.sh builds the same test runner: one build at a time.
exec 9>build/debug-asan/.pelorin-build.lock
flock 9
cmake --preset debug-asan >/dev/null
cmake --build --preset debug-asan -j "$(nproc)"
exec 9>&-
bash tools/isolated.sh ctest --preset debug-asan "$@"
