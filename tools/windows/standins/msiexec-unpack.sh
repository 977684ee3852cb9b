#!/bin/sh
# The Linux side of the msiexec.exe stand-in:
#   msiexec-unpack.sh PACKAGE TARGETDIR STATUSFILE
# Unpacks PACKAGE's tree into TARGETDIR, then copies PACKAGE there, and writes
# its exit status to STATUSFILE, which appears whole (renamed into place)
# because the stand-in polls for it.
PATH=/usr/bin:/bin
package=$1
target=$2
status=$3
# msiextract exits with 0 on a file it cannot open as a package, so msiinfo
# has to open the database first.
{
    mkdir -p "$target" &&
        msiinfo tables "$package" &&
        msiextract -C "$target" "$package" &&
        cp "$package" "$target/$(basename "$package")"
} >/dev/null 2>&1
echo $? >"$status.part"
mv "$status.part" "$status"
