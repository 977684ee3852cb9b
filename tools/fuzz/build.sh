#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz into build/fuzz (the `fuzz` preset:
# clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) against a
# TinyXML built from Debian's source with the same sanitizers, so that a read
# past the parser's buffer is caught where it happens. That TinyXML is cached
# outside the clone, in ${PELORIN_CACHE_DIR:-/var/cache/pelorin}/fuzz-tinyxml-<version>.
# The other builds are left alone. Installs what it needs on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=tools/deb-src.sh
source tools/deb-src.sh

jobs=${PELORIN_BUILD_JOBS:-2}
cache_root=${PELORIN_CACHE_DIR:-/var/cache/pelorin}
# TinyXML's own assertions stay on: each is a fault the fuzzer should see. The
# recipe number changes whenever the build below does, so the cache follows.
tinyxml_recipe="recipe 2: -O2 -g -fno-omit-frame-pointer -fsanitize=address,undefined,fuzzer-no-link \
-fno-sanitize-recover=all -DTIXML_USE_STL"

log() { echo "fuzz-build: $*" >&2; }
die() { log "error: $*"; exit 1; }

install_tools() {
  local packages=(clang libclang-rt-14-dev cmake ninja-build dpkg-dev libcurl4-openssl-dev
                  libssl-dev libzstd-dev) missing=() package
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  log "installing ${missing[*]}"
  deb_src_as_root apt-get -o DPkg::Lock::Timeout=120 update -qq >&2
  deb_src_as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 \
    install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# The source of the release's own suite: a security mirror may list a source
# package whose files it does not hold.
# shellcheck disable=SC1091
tinyxml_source=tinyxml/$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

# The version `apt-get source` fetches.
tinyxml_source_version() {
  apt-get source --print-uris -qq "$tinyxml_source" 2>/dev/null |
    sed -n "s/^'[^']*' tinyxml_\([^ ]*\)\.dsc .*/\1/p" | head -n1
}

# Prints the install prefix of the sanitized TinyXML, building it when the
# cache holds none for this version and these flags.
sanitized_tinyxml() {
  local version prefix stamp work src f objects=()
  version=$(tinyxml_source_version)
  [ -n "$version" ] || die "apt-get source finds no tinyxml"
  prefix=$cache_root/fuzz-tinyxml-$version
  stamp=$prefix/.pelorin-complete
  if [ "$(cat "$stamp" 2>/dev/null)" = "$tinyxml_recipe" ]; then
    echo "$prefix"
    return
  fi
  # One build at a time: other clones may share the cache.
  exec 9>"$cache_root/.fuzz-tinyxml.lock"
  flock 9
  if [ "$(cat "$stamp" 2>/dev/null)" = "$tinyxml_recipe" ]; then
    echo "$prefix"
    return
  fi
  log "building TinyXML $version with the sanitizers"
  work=$(mktemp -d)
  (cd "$work" && apt-get source -qq "$tinyxml_source" >"$work/fetch.log" 2>&1) ||
    { cat "$work/fetch.log" >&2; die "apt-get source tinyxml failed"; }
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'tinyxml-*' | head -n1)
  [ -n "$src" ] || die "no unpacked TinyXML tree"
  # The sources stay beside the library, so that a report names their lines.
  rm -rf "$prefix.partial"
  mkdir -p "$prefix.partial/include" "$prefix.partial/lib" "$prefix.partial/src"
  for f in tinyxml tinyxmlparser tinyxmlerror tinystr; do
    cp "$src/$f.cpp" "$prefix.partial/src/"
    # shellcheck disable=SC2086
    clang++ ${tinyxml_recipe#recipe *: } -fdebug-prefix-map="$prefix.partial=$prefix" -I"$src" \
      -c "$prefix.partial/src/$f.cpp" -o "$work/$f.o"
    objects+=("$work/$f.o")
  done
  ar rcs "$prefix.partial/lib/libtinyxml.a" "${objects[@]}"
  install -m 644 "$src/tinyxml.h" "$src/tinystr.h" "$prefix.partial/include/"
  echo "$tinyxml_recipe" >"$prefix.partial/.pelorin-complete"
  rm -rf "$prefix" "$work"
  mv "$prefix.partial" "$prefix"
  echo "$prefix"
}

install_tools
ensure_deb_src >&2
mkdir -p "$cache_root"
tinyxml=$(sanitized_tinyxml)
cmake --preset fuzz -DTINYXML_INCLUDE_DIR="$tinyxml/include" \
  -DTINYXML_LIBRARY="$tinyxml/lib/libtinyxml.a" >/dev/null
cmake --build --preset fuzz -j "$jobs" --target fuzz_targets
