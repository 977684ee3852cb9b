#!/usr/bin/env bash
# Builds the native debug build with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, in network and PID namespaces of the suite's own
# (tools/isolated.sh), so that another suite on this machine never shares its
# ports or its processes. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh tests
cmake --preset debug-asan >/dev/null
cmake --build --preset debug-asan -j "$(nproc)"
bash tools/isolated.sh ctest --preset debug-asan "$@"
