#!/usr/bin/env bash
# The long fault runs in full: 100 SIGKILLs during server list refreshes, each
# followed by a fresh start, and a soak of 500 runs against a server that
# answers at random (about 7 minutes), with the other whole-run faults. CI runs
# the same tests with 10 kills and 30 runs. Other counts:
#   PELORIN_KILL_RUNS=N PELORIN_SOAK_RUNS=N PELORIN_SOAK_SEED=N bash tools/fault_runs.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset debug-asan >/dev/null
cmake --build --preset debug-asan -j 2
# Run directly: the soak outlasts ctest's 300 s per test.
PELORIN_KILL_RUNS="${PELORIN_KILL_RUNS:-100}" PELORIN_SOAK_RUNS="${PELORIN_SOAK_RUNS:-500}" \
  build/debug-asan/tests/pelorin_tests --gtest_filter='EndToEndFaults.*'
