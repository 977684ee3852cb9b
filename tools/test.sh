#!/usr/bin/env bash
# Builds the native debug build with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset debug-asan >/dev/null
cmake --build --preset debug-asan -j "$(nproc)"
ctest --preset debug-asan "$@"
