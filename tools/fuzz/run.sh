#!/usr/bin/env bash
# Builds the fuzz targets (tools/fuzz/build.sh) and runs each for a while, one
# after the other, one process each.
#
# Usage: tools/fuzz/run.sh [seconds per target] [target...]
# Defaults: 15 seconds, every target. PELORIN_FUZZ_BUILD=0 skips the build
# (for runs started side by side after one build).
#
# A target starts from its seeds (tests/fuzz/corpus/<target>) and from what
# earlier runs kept in build/fuzz/corpus/<target>, where it keeps what it
# finds; a failing input is left in build/fuzz/artifacts/ and the whole log in
# build/fuzz/logs/<target>.log. One line per target tells the executions, the
# coverage (cov: edges, ft: features), the corpus (inputs/bytes) and the
# crashes; the run fails when a target did.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-15}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(server_list_fuzz manifest_decision_fuzz command_dispatch_fuzz sha1_fuzz release_files_fuzz
    proxy_lists_fuzz delta_file_fuzz)

[ "${PELORIN_FUZZ_BUILD:-1}" = 0 ] || bash tools/fuzz/build.sh >&2

export UBSAN_OPTIONS=print_stacktrace=1
# The targets rewrite their files on every input: in memory that costs
# microseconds, where truncating a file on a disk mounted with "discard" costs
# milliseconds.
fuzz_tmpdir=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && fuzz_tmpdir=/dev/shm
mkdir -p build/fuzz/artifacts build/fuzz/logs
failed=0
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  log=build/fuzz/logs/$target.log
  mkdir -p "$corpus"
  dictionary=()
  [ -f "tests/fuzz/$target.dict" ] && dictionary=(-dict="tests/fuzz/$target.dict")
  status=0
  TMPDIR=$fuzz_tmpdir "build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    "${dictionary[@]}" -artifact_prefix="build/fuzz/artifacts/$target-" \
    "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n1)
  crashes=0
  if [ "$status" -ne 0 ]; then
    crashes=1
    failed=1
    tail -n 40 "$log" >&2
  fi
  echo "$target: ${seconds} s, ${executions:-?} executions, ${coverage:-no coverage line}," \
    "crashes: $crashes"
done
exit "$failed"
