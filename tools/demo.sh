#!/usr/bin/env bash
# The updater at work, end to end, on this machine: a browser 1.0 is
# installed in a temporary folder, release 1.1 is published on a local HTTPS
# update server with a delta from 1.0, and one update run of
# PelorinAutoUpdate brings the installation to 1.1 through the delta. Prints the updater's log and the versions before and
# after; exits non-zero when the installation was not updated.
#
#   bash tools/demo.sh
#
# The first run installs the build dependencies and builds the updater in
# build/demo, whose main manifest URL points at the demo's server; later
# runs take a few seconds. PELORIN_DEMO_PORT chooses the server's port
# (default 47443; a different port rebuilds the updater).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
port=${PELORIN_DEMO_PORT:-47443}
serverUrl="https://localhost:$port"
build="$repo/build/demo"
started=$(date +%s.%N)

step() { printf '\n== %s\n' "$*"; }
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f s", b - a }'; }
die() {
    echo "demo: $*" >&2
    exit 1
}

step "Dependencies"
bash tools/install-deps.sh demo
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3

step "Building the release build in build/demo (main manifest URL $serverUrl/Win/UpdateWin.xml)"
buildStarted=$(date +%s.%N)
cmake --preset release -B "$build" -DPELORIN_BUILD_TESTS=OFF -DPELORIN_BUILD_BENCH=OFF \
    -DPELORIN_MAIN_MANIFEST_URL="$serverUrl/Win/UpdateWin.xml" >/dev/null
cmake --build "$build" -j "$(nproc)" --target PelorinAutoUpdate pelorin-publish
echo "built in $(elapsed "$buildStarted")"
demoStarted=$(date +%s.%N)

work=$(mktemp -d "${TMPDIR:-/tmp}/pelorin-demo.XXXXXX")
serverPid=
cleanUp() {
    if [ -n "$serverPid" ]; then
        kill "$serverPid" 2>/dev/null || true
        wait "$serverPid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanUp EXIT

# The installation, laid out as the updater finds it: the registry stand-in,
# the browser tree, the updater beside it and its data folder.
registry="$work/registry"
tempDir="$work/temp"
rootDir="$work/Program Files/Halvorne/Pelorin"
installDir="$rootDir/Update"
applicationDir="$rootDir/Application"
dataDir="$rootDir/Data"
www="$work/www"
mkdir -p "$registry" "$tempDir" "$installDir" "$applicationDir" "$dataDir" "$www/Win"

step "Certificates: a test CA and a server certificate for localhost"
sh tools/update_server/make_certs.sh "$work/certs"

# Every release carries the updater and its launcher, as a browser package
# does: the run replaces the file of the very updater that runs it.
mkdir -p "$work/update-folder"
cp "$build/PelorinAutoUpdate" tools/bundle/BatchLauncher.sh "$work/update-folder/"

step "Release 1.1: package, delta from 1.0, server list and manifest"
sh tools/sample_release/make_sample_msi.sh --update-folder "$work/update-folder" 1.0 "$work/Pelorin-1.0.msi"
sh tools/sample_release/make_sample_msi.sh --update-folder "$work/update-folder" 1.1 "$www/Pelorin-1.1.msi"
printf '# Pelorin update servers\nVersion = 1.1\n%s/\n' "$serverUrl" >"$www/ServerList.lst"
"$build/tools/publish/pelorin-publish" \
    --package "$www/Pelorin-1.1.msi" --version 1.1 --url "$serverUrl/Pelorin-1.1.msi" \
    --list "$www/ServerList.lst" --list-version 1.1 --list-url "$serverUrl/ServerList.lst" \
    --delta-from "$work/Pelorin-1.0.msi" --output "$www/Win/UpdateWin.xml"
cat "$www/Win/UpdateWin.xml"
echo "the full package: $(stat -c %s "$www/Pelorin-1.1.msi") bytes; the delta from 1.0:" \
    "$(stat -c %s "$www/Pelorin-1.1-from-1.0.delta") bytes"

step "Installing Pelorin 1.0 in $work"
msiextract -C "$work/unpacked-1.0" "$work/Pelorin-1.0.msi" >/dev/null
cp -R "$work/unpacked-1.0/Program Files/Halvorne/Pelorin/." "$rootDir"
cp "$work/certs/ca.pem" "$applicationDir/PelorinCert.pem"
# msiextract makes no file executable.
chmod a+x "$installDir/PelorinAutoUpdate" "$applicationDir/Pelorin"
printf '# Pelorin update servers\nVersion = 1.0\n%s/\n' "$serverUrl" >"$dataDir/ServerList.lst"
mkdir -p "$registry/HKEY_CURRENT_USER/SOFTWARE/Halvorne/Update" \
    "$registry/HKEY_CURRENT_USER/SOFTWARE/Halvorne/Data"
printf '%s' "$installDir/PelorinAutoUpdate" >"$registry/HKEY_CURRENT_USER/SOFTWARE/Halvorne/Update/path"
printf '%s' "$dataDir" >"$registry/HKEY_CURRENT_USER/SOFTWARE/Halvorne/Data/path"

installedVersion() { sed -n 's:.*<Version>\(.*\)</Version>.*:\1:p' "$applicationDir/UpdatePelorin.xml"; }
before=$(installedVersion)
echo "UpdatePelorin.xml says: $before"
echo "the browser says:       $(sh "$applicationDir/Pelorin")"

step "Starting the update server on 127.0.0.1:$port"
"$python" tools/update_server/update_server.py --root "$www" --port "$port" \
    --port-file "$work/port" --cert "$work/certs/server.pem" --key "$work/certs/server.key" \
    --request-log "$work/requests.jsonl" --max-seconds 300 --parent-pid $$ \
    2>"$work/server.log" &
serverPid=$!
until [ -s "$work/port" ]; do
    kill -0 "$serverPid" 2>/dev/null || {
        cat "$work/server.log" >&2
        die "the update server did not start (is port $port taken? set PELORIN_DEMO_PORT)"
    }
    sleep 0.05
done

step "Running PelorinAutoUpdate once"
runStarted=$(date +%s.%N)
status=0
TMPDIR="$tempDir" PELORIN_REGISTRY_ROOT="$registry" "$installDir/PelorinAutoUpdate" || status=$?
echo "exit code $status, ran for $(elapsed "$runStarted")"
echo "requests the server received:"
sed -n 's/^{"method": "\([A-Z]*\)", "path": "\([^"]*\)".*/  \1 \2/p' "$work/requests.jsonl"

step "The updater's log ($tempDir/PelorinAutoUpdate.log)"
cat "$tempDir/PelorinAutoUpdate.log" 2>/dev/null ||
    echo "(no log written: was another PelorinAutoUpdate running?)"

step "Result"
after=$(installedVersion)
echo "UpdatePelorin.xml says: $before before, $after after"
echo "the browser says:       $(sh "$applicationDir/Pelorin")"
echo "the server list says:   $(grep -i '^ *version' "$dataDir/ServerList.lst" | head -n 1)"
grep -q '^Delta update applied successfully' "$tempDir/PelorinAutoUpdate.log" ||
    echo "demo: note: the delta was not used; the log says why"
[ ! -e "$rootDir/../Update/backup" ] || die "the files moved aside before the copy are still there"
echo "demo took $(elapsed "$demoStarted") after the build, $(elapsed "$started") in all"
if [ "$after" != "1.1" ]; then
    echo "demo: FAILED, the installation was not updated to 1.1" >&2
    exit 1
fi
echo "demo: Pelorin was updated from $before to $after"
