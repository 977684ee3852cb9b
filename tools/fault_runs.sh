#!/usr/bin/env bash
# The long fault runs in full: 100 SIGKILLs during server list refreshes, each
# followed by a fresh start, with the other whole-run faults. CI runs the same
# tests with 2 kills. Another count: PELORIN_KILL_RUNS=N bash tools/fault_runs.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh tests
cmake --preset debug-asan >/dev/null
cmake --build --preset debug-asan -j 2
# Run directly: 100 kills may outlast ctest's 300 s per test.
PELORIN_KILL_RUNS="${PELORIN_KILL_RUNS:-100}" bash tools/isolated.sh build/debug-asan/tests/pelorin_tests --gtest_filter='EndToEndFaults.*:FaultRuns.*'
