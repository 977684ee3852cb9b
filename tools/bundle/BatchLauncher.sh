#!/bin/sh
# Starts the updater named by its one argument, detached from the scheduler,
# so that a long update run never holds the scheduler's slot.
[ $# -eq 1 ] || { echo "usage: BatchLauncher.sh PATH-TO-PelorinAutoUpdate" >&2; exit 2; }
nohup "$1" >/dev/null 2>&1 &
