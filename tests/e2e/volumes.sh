#!/bin/bash
# volumes.sh [--volume PATH KEPT SIZE FREE READONLY FULLONCE FULLAT]... -- COMMAND...
# Runs COMMAND with folders that are disks of their own, in a mount namespace
# of its own: a tmpfs of SIZE over PATH that starts with PATH's files (reachable
# at KEPT, which takes back what the run left), filled until FREE bytes are
# free (-1: not), filled up once its file FULLONCE holds FULLAT bytes; with SIZE
# empty, PATH itself. READONLY 1 makes it read-only. Exit status: COMMAND's, 77
# when the volumes cannot be made.
if [ -z "$PELORIN_VOLUMES_NAMESPACE" ]; then
    export PELORIN_VOLUMES_NAMESPACE=1
    for enter in "unshare --mount" "unshare --mount --map-root-user"; do
        if $enter --propagation private true 2>/dev/null; then
            exec $enter --propagation private bash "$0" "$@"
        fi
    done
    exit 77
fi
kept=() fillers=()
while [ "$1" = --volume ]; do
    path=$2
    if [ -n "$4" ]; then
        mkdir -p "$3" && mount --bind "$path" "$3" && mount -t tmpfs -o "size=$4" tmpfs "$path" &&
            cp -r "$3/." "$path" || exit 77
        kept+=("$path" "$3")
        free=$(($(df -B1 --output=avail "$path" | tail -n 1) - $5))
        [ "$5" -lt 0 ] || [ "$free" -le 0 ] || head -c "$free" /dev/zero >"$path/.filler"
    else
        mount --bind "$path" "$path" || exit 77
    fi
    [ "$6" != 1 ] || mount -o remount,bind,ro "$path" || exit 77
    if [ -n "$7" ]; then
        (
            while [ "$(stat -c %s "$path/$7" 2>/dev/null || echo 0)" -lt "$8" ]; do sleep 0.002; done
            cat /dev/zero >"$path/.filler" 2>/dev/null
        ) &
        fillers+=($!)
    fi
    shift 8
done
shift
"$@"
status=$?
[ ${#fillers[@]} -eq 0 ] || kill "${fillers[@]}" 2>/dev/null
for ((i = 0; i < ${#kept[@]}; i += 2)); do
    rm -f "${kept[i]}/.filler"
    find "${kept[i + 1]}" -mindepth 1 -delete
    cp -r "${kept[i]}/." "${kept[i + 1]}"
done
exit $status
