#!/usr/bin/env bash
# Runs a command in network, PID and mount namespaces of its own, so that two
# test suites on one machine never meet: the main server's fixed port is on
# the command's own loopback, and the browser's and the updater's names are
# counted only among the command's own processes (a /proc of its own).
#
# Usage: tools/isolated.sh COMMAND [ARG...]
# As root (CI) the namespaces need nothing; another user needs user
# namespaces (then the command runs as root inside, mapped to that user).
# Where neither works, the command runs in the open and one line says so:
# then run one suite at a time. A command already isolated runs as it is.
# Exit status: the command's.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: tools/isolated.sh COMMAND [ARG...]" >&2; exit 2; }

if [ "${PELORIN_ISOLATED:-0}" = 1 ]; then
  exec "$@"
fi

enter=(unshare --net --pid --fork --mount-proc)
[ "$(id -u)" -eq 0 ] || enter+=(--map-root-user)
if ! "${enter[@]}" /bin/sh -c 'ip link set lo up' 2>/dev/null; then
  echo "isolated: no network and PID namespaces here; running in the open" \
    "(another suite on this machine would share its ports and processes)" >&2
  exec "$@"
fi

# PID 1 of the namespace is this small shell: it brings loopback up, reaps
# the orphans the tests leave (detached copies, stand-in browsers) and hands
# Ctrl-C and termination on to the command.
export PELORIN_ISOLATED=1
exec "${enter[@]}" /bin/bash -c '
  ip link set lo up || exit 125
  "$@" &
  child=$!
  trap "kill -TERM $child 2>/dev/null" INT TERM
  while :; do
    wait "$child" && exit 0
    status=$?
    kill -0 "$child" 2>/dev/null || exit "$status"
  done
' isolated "$@"
