#!/usr/bin/env bash
# Builds the Windows stand-ins that the end-to-end tests put in front of
# Wine's own programs where Wine 10 falls short (schtasks.exe, xcopy.exe) and
# the program that plays the running browser (browser.exe), with mingw-w64 for
# the architecture of the updater under test (PELORIN_MINGW_CXX, by default
# the product's i686 compiler).
#
# Usage: tools/windows/standins/build-standins.sh OUTDIR
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: build-standins.sh OUTDIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
compiler=${PELORIN_MINGW_CXX:-i686-w64-mingw32-g++-posix}

for name in schtasks xcopy browser; do
  if [ ! "$out/$name.exe" -nt "$here/$name.cpp" ] || [ ! "$out/$name.exe" -nt "$0" ]; then
    "$compiler" -std=c++17 -O2 -Wall -Wextra -Werror -static -o "$out/$name.exe" "$here/$name.cpp"
  fi
done
# Left by earlier builds, when Wine had no administrative install.
rm -f "$out/msiexec.exe" "$out/msiexec-unpack.sh"
