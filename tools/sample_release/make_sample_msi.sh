#!/bin/sh
# Builds a small sample Pelorin release as a Windows Installer package:
#
#   make_sample_msi.sh [OPTION...] VERSION OUT.msi [PAYLOAD_FILE]
#
# The package holds Halvorne/Pelorin with a README.txt, Application/Pelorin
# (a script that prints its version), Application/UpdatePelorin.xml naming
# VERSION, an Application/resources folder and, as every browser package
# carries its updater, an Update folder: the files of --update-folder DIR
# (the updater and its launcher script), or else stand-ins named
# PelorinAutoUpdate.exe and BatchLauncher.vbs. PAYLOAD_FILE, when given, goes
# in as Application/resources/payload.bin, so that a release can be as large
# as a real one. The program tree lies below ProgramFilesFolder, as in a
# package built the usual way. The .wxs it was built from is kept beside
# OUT.msi. Needs wixl (Debian packages wixl and msitools).
#
# Options, for packages built wrongly on purpose:
#   --lower-case-folder      the tree lies below an ordinary folder named
#                            "program files" instead
#   --no-program-tree        the tree lies below an ordinary folder "Programs",
#                            where no updater looks
#   --version-file-says V    UpdatePelorin.xml names V instead of VERSION
#   --no-version-file        the package holds no UpdatePelorin.xml
#   --update-folder DIR      the Update folder holds DIR's files
set -eu

usage() {
    echo "usage: make_sample_msi.sh [OPTION...] VERSION OUT.msi [PAYLOAD_FILE]" >&2
    exit 2
}

programFolder='<Directory Id="ProgramFilesFolder" Name="PROGRA~1|program files">'
fileVersion=
versionFile=yes
updateFolder=
while [ $# -gt 0 ]; do
    case $1 in
    --lower-case-folder)
        programFolder='<Directory Id="ProgramFilesDir" Name="PROGRA~1|program files">'
        ;;
    --no-program-tree) programFolder='<Directory Id="ProgramsDir" Name="Programs">' ;;
    --version-file-says)
        [ $# -ge 2 ] || usage
        fileVersion=$2
        shift
        ;;
    --no-version-file) versionFile=no ;;
    --update-folder)
        [ $# -ge 2 ] && [ -d "$2" ] || usage
        updateFolder=$(cd "$2" && pwd)
        shift
        ;;
    -*) usage ;;
    *) break ;;
    esac
    shift
done

[ $# -eq 2 ] || [ $# -eq 3 ] || usage
version=$1
out=$2
payload=${3-}
if [ -n "$payload" ] && [ ! -f "$payload" ]; then
    echo "make_sample_msi.sh: no such payload file: $payload" >&2
    exit 2
fi

# The version goes into the package's ProductVersion, which takes only
# numbers separated by dots.
case $version in
'' | *[!0-9.]* | .* | *. | *..*)
    echo "make_sample_msi.sh: version must be numbers separated by dots: $version" >&2
    exit 2
    ;;
esac

if ! command -v wixl >/dev/null 2>&1; then
    echo "make_sample_msi.sh: wixl not found (apt-get install wixl msitools)" >&2
    exit 1
fi

here=$(cd "$(dirname "$0")" && pwd)
outDir=$(cd "$(dirname "$out")" && pwd)
outMsi="$outDir/$(basename "$out")"
outWxs="${outMsi%.msi}.wxs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

program="$work/Halvorne/Pelorin"
mkdir -p "$program/Application/resources"
printf 'Pelorin %s, a sample release of the Pelorin browser.\n' "$version" >"$program/README.txt"
printf '<Update><Version>%s</Version></Update>\n' "${fileVersion:-$version}" \
    >"$program/Application/UpdatePelorin.xml"
printf '#!/bin/sh\necho "Pelorin %s"\n' "$version" >"$program/Application/Pelorin"
chmod 755 "$program/Application/Pelorin"
printf 'welcome=Welcome to Pelorin %s\n' "$version" >"$program/Application/resources/strings.txt"
printf 'body { font-family: sans-serif; }\n' >"$program/Application/resources/theme.css"
mkdir -p "$program/Update"
if [ -n "$updateFolder" ]; then
    cp "$updateFolder"/* "$program/Update/"
else
    printf 'PelorinAutoUpdate %s\n' "$version" >"$program/Update/PelorinAutoUpdate.exe"
    printf 'WScript.Quit 0\n' >"$program/Update/BatchLauncher.vbs"
fi
# The Update folder's files, with the short names the Filename type wants.
updateFiles=
count=0
for file in "$program/Update"/*; do
    name=$(basename "$file")
    count=$((count + 1))
    extension=
    case $name in *.*) extension=$(printf '%s' "${name##*.}" | tr 'a-z' 'A-Z' | cut -c1-3) ;; esac
    short=$(printf '%s' "${name%%.*}" | tr -cd 'A-Za-z0-9' | tr 'a-z' 'A-Z' | cut -c1-6)~$count
    updateFiles="$updateFiles<File Id=\"Update$count\" Name=\"$short${extension:+.$extension}|$name\" Source=\"Halvorne/Pelorin/Update/$name\"/>"
done

sed -e "s/@VERSION@/$version/g" -e "s/@PROGRAM_FOLDER@/$programFolder/" \
    -e "s#@UPDATE_FILES@#$updateFiles#" \
    "$here/pelorin.wxs.in" >"$outWxs"
if [ -n "$payload" ]; then
    cp "$payload" "$program/Application/resources/payload.bin"
    # The payload joins the resources component, after its last file.
    sed -i '/Id="ThemeCss"/a\
                  <File Id="PayloadBin" Source="Halvorne/Pelorin/Application/resources/payload.bin"/>' \
        "$outWxs"
    grep -q 'Id="PayloadBin"' "$outWxs" || {
        echo "make_sample_msi.sh: no place for the payload in pelorin.wxs.in" >&2
        exit 1
    }
fi
if [ "$versionFile" = no ]; then
    sed -i '/Id="UpdatePelorinXml"/,/\/>/d' "$outWxs"
    ! grep -q 'UpdatePelorin' "$outWxs" || {
        echo "make_sample_msi.sh: cannot leave UpdatePelorin.xml out of pelorin.wxs.in" >&2
        exit 1
    }
fi
# wixl finds the Source paths relative to the current directory.
# wixl can exit 0 on a document it failed to parse.
rm -f "$outMsi"
(cd "$work" && wixl -o "$outMsi" "$outWxs")
[ -s "$outMsi" ] || {
    echo "make_sample_msi.sh: wixl wrote no package" >&2
    exit 1
}
