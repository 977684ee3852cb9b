#!/usr/bin/env bash
# Builds the Windows dependencies (OpenSSL, libssh2 on OpenSSL, libcurl on both
# with HTTP, HTTPS, FTP and SFTP, TinyXML, libzstd, GoogleTest) as static mingw-w64
# libraries (posix threads) from Debian's own source packages, into a cache
# outside the clone keyed on the target, the source versions and this recipe.
# The product is 32-bit (i686, the default); x86_64 is the test build for
# machines that run no 32-bit programs (tools/windows/build.sh).
#
# Usage: PELORIN_WINDOWS_DEPS=$(tools/windows/build-deps.sh [i686|x86_64])
# The cache root is ${PELORIN_CACHE_DIR:-/var/cache/pelorin}/windows-deps. The
# install prefix is printed as the last (and only) line on stdout; all progress
# goes to stderr. A second run with the same source versions only checks the
# stamp file and returns in seconds.
set -euo pipefail

exec 3>&1 1>&2

cache_root=${PELORIN_CACHE_DIR:-/var/cache/pelorin}/windows-deps
jobs=${PELORIN_BUILD_JOBS:-2}
arch=${1:-i686}
case $arch in
  i686) openssl_target=mingw processor=x86 ;;
  x86_64) openssl_target=mingw64 processor=AMD64 ;;
  *)
    echo "usage: build-deps.sh [i686|x86_64]" >&2
    exit 2
    ;;
esac
target=$arch-w64-mingw32
# Debian's package names spell the architecture x86-64.
pkg_arch=${arch//_/-}

log() { echo "build-deps: $*"; }
die() { echo "build-deps: error: $*"; exit 1; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    -o DPkg::Lock::Timeout=120 --no-install-recommends "$@"
}

missing_packages() {
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed'; then
      echo "$pkg"
    fi
  done
}

install_tools() {
  local missing
  mapfile -t missing < <(missing_packages dpkg-dev xz-utils patch cmake ninja-build make perl \
    "binutils-mingw-w64-$pkg_arch" "gcc-mingw-w64-$pkg_arch-posix" \
    "g++-mingw-w64-$pkg_arch-posix" "mingw-w64-$pkg_arch-dev")
  if [ "${#missing[@]}" -gt 0 ]; then
    log "installing ${missing[*]}"
    as_root apt-get update -q
    apt_install "${missing[@]}"
  fi
}

# ensure_deb_src: makes `apt-get source` work on this machine.
# shellcheck source=tools/deb-src.sh
source "$(dirname "$0")/../deb-src.sh"

sources=(openssl libssh2 curl tinyxml libzstd googletest)
# Sources from the release's own suite: the security archive's mirror may
# list a source package whose .dsc it does not hold.
# shellcheck disable=SC1091
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

# Sets openssl_ver, libssh2_ver, curl_ver, tinyxml_ver, libzstd_ver and googletest_ver to
# the versions apt-get source would fetch, read from the .dsc names it prints
# (one call: each costs ~2 s).
read_source_versions() {
  local uris pkg dsc
  uris=$(apt-get source --print-uris -qq "${sources[@]/%//$codename}" 2>/dev/null) ||
    die "apt-get source cannot find ${sources[*]}"
  for pkg in "${sources[@]}"; do
    dsc=$(sed -n "s/^'[^']*' ${pkg}_\([^ ]*\)\.dsc .*/\1/p" <<<"$uris" | head -n1)
    [ -n "$dsc" ] || die "apt-get source finds no source package $pkg"
    printf -v "${pkg}_ver" '%s' "$dsc"
  done
}

fetch_source() {
  local pkg=$1 dir
  (cd "$work" && apt-get source -q "$pkg/$codename" >"$work/$pkg.fetch.log" 2>&1) ||
    { cat "$work/$pkg.fetch.log"; die "apt-get source $pkg failed"; }
  dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$pkg-*" | head -n1)
  [ -n "$dir" ] || die "no unpacked tree for $pkg"
  echo "$dir"
}

mingw_cmake() {
  cmake -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$staging" \
    -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF \
    "$@"
}

write_toolchain() {
  cat >"$work/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $processor)
set(CMAKE_C_COMPILER $target-gcc-posix)
set(CMAKE_CXX_COMPILER $target-g++-posix)
set(CMAKE_RC_COMPILER $target-windres)
# The libraries built before are found in the install prefix.
set(CMAKE_FIND_ROOT_PATH /usr/$target $staging)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN
}

build_openssl() {
  local src=$1
  log "building OpenSSL $openssl_ver (static libraries only)"
  # Only the libraries: the command-line program and the documentation would
  # double the time, and so would ciphers and protocols that neither HTTPS nor
  # SSH offers here. no-capieng: the Windows certificate store stays out of
  # the trust decision, which is the CA bundle's alone. no-asm: the 32-bit
  # assembly is position-independent code that mingw-w64's assembler cannot
  # relocate (and the 64-bit test build follows the product).
  (cd "$src" && ./Configure "$openssl_target" no-shared no-tests no-capieng no-dso no-asm \
    no-idea no-camellia no-seed no-rc2 no-rc5 no-md2 no-mdc2 no-whirlpool no-aria \
    no-sm2 no-sm3 no-sm4 no-gost no-srp no-srtp no-ts no-dtls no-ssl3 no-comp no-ec2m \
    --prefix="$staging" --libdir=lib \
    CC=$target-gcc-posix CXX=$target-g++-posix AR=$target-ar \
    RANLIB=$target-ranlib RC=$target-windres) >"$work/openssl.configure.log" 2>&1 ||
    { tail -n 40 "$work/openssl.configure.log"; die "configuring OpenSSL failed"; }
  make -C "$src" -j "$jobs" build_libs >"$work/openssl.build.log" 2>&1 ||
    { tail -n 40 "$work/openssl.build.log"; die "building OpenSSL failed"; }
  make -C "$src" install_dev >>"$work/openssl.build.log" 2>&1 ||
    { tail -n 40 "$work/openssl.build.log"; die "installing OpenSSL failed"; }
}

build_libssh2() {
  local src=$1
  log "building libssh2 $libssh2_ver (OpenSSL back end)"
  mingw_cmake -S "$src" -B "$work/build-libssh2" \
    -DCRYPTO_BACKEND=OpenSSL -DOPENSSL_USE_STATIC_LIBS=ON -DOPENSSL_ROOT_DIR="$staging" \
    -DENABLE_ZLIB_COMPRESSION=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
    >"$work/libssh2.configure.log" 2>&1 ||
    { tail -n 40 "$work/libssh2.configure.log"; die "configuring libssh2 failed"; }
  cmake --build "$work/build-libssh2" -j "$jobs" >"$work/libssh2.build.log" 2>&1 ||
    { tail -n 40 "$work/libssh2.build.log"; die "building libssh2 failed"; }
  cmake --install "$work/build-libssh2" >>"$work/libssh2.build.log" 2>&1 ||
    { tail -n 40 "$work/libssh2.build.log"; die "installing libssh2 failed"; }
}

build_curl() {
  local src=$1
  log "building libcurl $curl_ver (OpenSSL; HTTP, HTTPS, FTP, SFTP; SSPI)"
  # No CA bundle or path is built in: a certificate is trusted only when it
  # chains to the bundle the updater names. This curl's CMake offers SSPI
  # only beside Schannel; setting its define directly gives SSPI beside
  # OpenSSL, as the autotools build's --with-windows-sspi does.
  mingw_cmake -S "$src" -B "$work/build-curl" \
    -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_CURL_MANUAL=OFF \
    -DBUILD_LIBCURL_DOCS=OFF -DBUILD_MISC_DOCS=OFF \
    -DCURL_USE_OPENSSL=ON -DOPENSSL_USE_STATIC_LIBS=ON -DOPENSSL_ROOT_DIR="$staging" \
    -DCURL_USE_SCHANNEL=OFF -DCURL_USE_MBEDTLS=OFF \
    -DCURL_USE_BEARSSL=OFF -DCURL_USE_WOLFSSL=OFF -DCURL_USE_NSS=OFF \
    -DCURL_USE_GNUTLS=OFF -DCURL_WINDOWS_SSPI=ON -DUSE_WINDOWS_SSPI=ON -DCURL_DISABLE_CRYPTO_AUTH=OFF \
    -DHTTP_ONLY=OFF -DCURL_DISABLE_FTP=OFF -DCURL_USE_LIBSSH2=ON -DCURL_USE_LIBSSH=OFF \
    -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
    -DCURL_DISABLE_FILE=ON -DCURL_DISABLE_DICT=ON \
    -DCURL_DISABLE_TELNET=ON -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_POP3=ON \
    -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_SMTP=ON -DCURL_DISABLE_GOPHER=ON \
    -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_MQTT=ON -DCURL_DISABLE_SMB=ON \
    -DCURL_USE_GSSAPI=OFF -DENABLE_UNIX_SOCKETS=OFF \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
    -DUSE_NGTCP2=OFF -DUSE_QUICHE=OFF -DUSE_MSH3=OFF -DUSE_LIBIDN2=OFF \
    -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF -DUSE_LIBRTMP=OFF \
    -DENABLE_ARES=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
    -DCURL_CA_FALLBACK=OFF >"$work/curl.configure.log" 2>&1 ||
    { tail -n 40 "$work/curl.configure.log"; die "configuring curl failed"; }
  grep -q 'Enabled SSL backends: *OpenSSL' "$work/curl.configure.log" &&
    grep -Eq 'Enabled features:.*SSL' "$work/curl.configure.log" ||
    { grep -i 'enabled' "$work/curl.configure.log"; die "curl was not configured with OpenSSL"; }
  grep -Eq 'Enabled protocols:.*SFTP' "$work/curl.configure.log" ||
    { grep -i 'enabled' "$work/curl.configure.log"; die "curl was not configured with SFTP"; }
  # Proxies of the system's settings are answered with the account's own
  # credentials, through SSPI, as Windows programs answer them.
  grep -Eq 'Enabled features:.*SSPI' "$work/curl.configure.log" &&
    grep -Eq 'Enabled features:.*NTLM' "$work/curl.configure.log" &&
    grep -Eq 'Enabled features:.*SPNEGO' "$work/curl.configure.log" ||
    { grep -i 'enabled' "$work/curl.configure.log"; die "curl was not configured with SSPI"; }
  cmake --build "$work/build-curl" -j "$jobs" >"$work/curl.build.log" 2>&1 ||
    { tail -n 40 "$work/curl.build.log"; die "building curl failed"; }
  cmake --install "$work/build-curl" >>"$work/curl.build.log" 2>&1 ||
    { tail -n 40 "$work/curl.build.log"; die "installing curl failed"; }
}

build_tinyxml() {
  local src=$1 f objs=()
  log "building TinyXML $tinyxml_ver"
  # Debian's patches make tinyxml.h define TIXML_USE_STL itself; defining it
  # here as well keeps the library right even if that patch ever goes away.
  grep -q 'define TIXML_USE_STL' "$src/tinyxml.h" ||
    log "warning: tinyxml.h does not force TIXML_USE_STL; consumers must define it"
  mkdir -p "$work/build-tinyxml"
  for f in tinyxml tinyxmlparser tinyxmlerror tinystr; do
    $target-g++-posix -O2 -DTIXML_USE_STL -c "$src/$f.cpp" \
      -o "$work/build-tinyxml/$f.o"
    objs+=("$work/build-tinyxml/$f.o")
  done
  mkdir -p "$staging/include" "$staging/lib"
  rm -f "$staging/lib/libtinyxml.a"
  $target-ar rcs "$staging/lib/libtinyxml.a" "${objs[@]}"
  install -m 644 "$src/tinyxml.h" "$src/tinystr.h" "$staging/include/"
}

build_libzstd() {
  local src=$1
  log "building libzstd $libzstd_ver (static library only, single-threaded)"
  mingw_cmake -S "$src/build/cmake" -B "$work/build-libzstd" \
    -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
    -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF \
    >"$work/libzstd.configure.log" 2>&1 ||
    { tail -n 40 "$work/libzstd.configure.log"; die "configuring libzstd failed"; }
  cmake --build "$work/build-libzstd" -j "$jobs" >"$work/libzstd.build.log" 2>&1 ||
    { tail -n 40 "$work/libzstd.build.log"; die "building libzstd failed"; }
  cmake --install "$work/build-libzstd" >>"$work/libzstd.build.log" 2>&1 ||
    { tail -n 40 "$work/libzstd.build.log"; die "installing libzstd failed"; }
}

build_googletest() {
  local src=$1
  log "building GoogleTest $googletest_ver (gtest, gtest_main)"
  mingw_cmake -S "$src" -B "$work/build-googletest" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=OFF \
    >"$work/googletest.configure.log" 2>&1 ||
    { tail -n 40 "$work/googletest.configure.log"; die "configuring googletest failed"; }
  cmake --build "$work/build-googletest" -j "$jobs" >"$work/googletest.build.log" 2>&1 ||
    { tail -n 40 "$work/googletest.build.log"; die "building googletest failed"; }
  cmake --install "$work/build-googletest" >>"$work/googletest.build.log" 2>&1 ||
    { tail -n 40 "$work/googletest.build.log"; die "installing googletest failed"; }
}

install_tools
ensure_deb_src

openssl_ver='' libssh2_ver='' curl_ver='' tinyxml_ver='' libzstd_ver='' googletest_ver=''
read_source_versions
# Raised whenever the build options below change: other options, other
# libraries, from the same sources.
recipe=5
key="$target-r${recipe}_openssl-${openssl_ver}_libssh2-${libssh2_ver}_curl-${curl_ver}"
key+="_tinyxml-${tinyxml_ver}_libzstd-${libzstd_ver}_googletest-${googletest_ver}"
prefix=$cache_root/$key
stamp=$prefix/.pelorin-complete

if [ -f "$stamp" ]; then
  echo "$prefix" >&3
  exit 0
fi

mkdir -p "$cache_root"
# Serialise concurrent runs (several workers may share the cache), of every
# target: the machine's cores are the limit.
exec 9>"$cache_root/.lock"
flock 9
if [ -f "$stamp" ]; then
  echo "$prefix" >&3
  exit 0
fi

start=$SECONDS
work=$prefix.work
staging=$prefix.partial
rm -rf "$work" "$staging"
mkdir -p "$work" "$staging"
write_toolchain

log "fetching sources: openssl $openssl_ver, libssh2 $libssh2_ver, curl $curl_ver," \
  "tinyxml $tinyxml_ver, libzstd $libzstd_ver, googletest $googletest_ver"
openssl_src=$(fetch_source openssl)
libssh2_src=$(fetch_source libssh2)
curl_src=$(fetch_source curl)
tinyxml_src=$(fetch_source tinyxml)
libzstd_src=$(fetch_source libzstd)
googletest_src=$(fetch_source googletest)

build_openssl "$openssl_src"
build_libssh2 "$libssh2_src"
build_curl "$curl_src"
build_tinyxml "$tinyxml_src"
build_libzstd "$libzstd_src"
build_googletest "$googletest_src"

printf '%s\n' "target $target" "openssl $openssl_ver" "libssh2 $libssh2_ver" "curl $curl_ver" \
  "tinyxml $tinyxml_ver" "libzstd $libzstd_ver" "googletest $googletest_ver" >"$staging/.pelorin-complete"
# The CMake files of curl name libssh2 by its full path: move it with the tree.
grep -rlF "$staging" "$staging/lib/cmake" "$staging/lib/pkgconfig" 2>/dev/null |
  xargs -r sed -i "s|$staging|$prefix|g"
rm -rf "$prefix"
mv "$staging" "$prefix"
rm -rf "$work"
log "built in $((SECONDS - start)) s: $prefix"
echo "$prefix" >&3
