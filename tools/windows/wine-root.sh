#!/usr/bin/env bash
# The Debian 13 root file system that Wine 10 runs from: Debian 12's Wine 8
# has no administrative install (msiexec /a) and Debian 13's Wine 10 has.
#
# Usage:
#   wine-root.sh path          makes the root when missing; prints its path
#   wine-root.sh run CMD...    runs CMD (a Linux program of the root) inside it
#
# The root is made with mmdebstrap from the release's own packages and cached
# outside the clone in ${PELORIN_CACHE_DIR:-/var/cache/pelorin}/wine-root-KEY,
# KEY naming the suite and a hash of the package list: another list or suite,
# another root. A second run finds it and returns at once.
#
# "run" enters it with unshare --mount and chroot, in a mount namespace of its
# own, so nothing stays mounted on the machine: /proc and /dev inside, and at
# the same paths as outside the clone, $WINEPREFIX when set, and every folder
# of PELORIN_WINE_BINDS (colon-separated), so that Windows programs see the
# files the tests lay out through drive Z:. A Wine server started by one run
# serves the next ones and opens files for them: all runs that share a prefix
# must bind the same folders. TMPDIR stays outside: Wine keeps its server's
# socket in the root's /tmp, where every run must find it; PELORIN_WINE_TMP,
# when set, names a folder bound there instead, so that the server's socket
# and everything else Wine keeps in /tmp belong to one suite alone.
# With PELORIN_WINDOWS_TEST_ARCH=x86_64 (the 64-bit way of build.sh), Wine's
# 32-bit loader and server are covered by a file that no kernel runs ("Exec
# format error"), as on a machine that runs no 32-bit programs, where the
# cover changes nothing: that way must never lean on them.
set -euo pipefail

suite=trixie
packages=(wine wine64 wine32:i386)
mirror=${PELORIN_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache_dir=${PELORIN_CACHE_DIR:-/var/cache/pelorin}
key=$suite-$(printf '%s\n' "$suite" "${packages[@]}" | sha1sum | cut -c1-12)
root=$cache_dir/wine-root-$key
clone=$(cd "$(dirname "$0")/../.." && pwd)

log() { echo "wine-root: $*" >&2; }
die() { log "error: $*"; exit 1; }

install_mmdebstrap() {
  command -v mmdebstrap >/dev/null && return
  log "installing mmdebstrap"
  apt-get -o DPkg::Lock::Timeout=120 update -q >&2
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 install -y -q \
    --no-install-recommends mmdebstrap >&2
}

make_root() {
  [ -f "$root/.pelorin-complete" ] && return
  [ "$(id -u)" -eq 0 ] || die "making the root needs root (mmdebstrap, chroot)"
  install_mmdebstrap
  mkdir -p "$cache_dir"
  exec 9>"$cache_dir/.wine-root.lock"
  flock 9
  [ -f "$root/.pelorin-complete" ] && return
  local started=$SECONDS
  log "making the $suite root with ${packages[*]} in $root"
  rm -rf "$root.partial"
  mmdebstrap --quiet --variant=apt --architectures=amd64,i386 \
    --include="$(
      IFS=,
      echo "${packages[*]}"
    )" \
    "$suite" "$root.partial" "$mirror" >&2 ||
    die "mmdebstrap failed"
  printf '%s\n' "$suite" "${packages[@]}" >"$root.partial/.pelorin-complete"
  rm -rf "$root"
  mv "$root.partial" "$root"
  log "made in $((SECONDS - started)) s"
}

# The folders bound into the root, each once, outermost first.
bound_folders() {
  local folders=("$clone") folder
  [ -n "${WINEPREFIX:-}" ] && folders+=("$WINEPREFIX")
  local IFS=:
  for folder in ${PELORIN_WINE_BINDS:-}; do
    [ -n "$folder" ] && folders+=("$folder")
  done
  printf '%s\n' "${folders[@]}" | sort -u
}

run_in_root() {
  [ -f "$root/.pelorin-complete" ] || make_root
  local binds=() folder
  while IFS= read -r folder; do
    mkdir -p "$folder"
    binds+=("$(realpath "$folder")")
  done < <(bound_folders)
  local tmp=() no_32bit=()
  [ -n "${PELORIN_WINE_TMP:-}" ] && tmp=("$(realpath "$PELORIN_WINE_TMP")")
  if [ "${PELORIN_WINDOWS_TEST_ARCH:-}" = x86_64 ]; then
    local not_a_program=$root.not-a-program
    if [ ! -x "$not_a_program" ]; then
      # No "#!": execve fails with ENOEXEC; a shell that falls back to
      # reading it as a script (execvp) is told the same.
      echo 'echo "$0: Exec format error (no 32-bit programs here)" >&2; exit 126' \
        >"$not_a_program.$$"
      chmod 755 "$not_a_program.$$"
      mv "$not_a_program.$$" "$not_a_program"
    fi
    no_32bit=("$not_a_program")
  fi
  # The Linux side only sees the low 8 bits of a Windows exit code.
  exec unshare --mount --propagation private -- /bin/sh -c '
    root=$1
    shift
    mount -t proc proc "$root/proc" || exit 125
    mount --rbind /dev "$root/dev" || exit 125
    if [ "$1" != -- ]; then
      mount --bind "$1" "$root/tmp" || exit 125
      shift
    fi
    shift
    if [ "$1" != -- ]; then
      for program in usr/lib/wine/wine usr/lib/wine/wineserver32; do
        mount --bind "$1" "$root/$program" || exit 125
      done
      shift
    fi
    shift
    while [ "$1" != -- ]; do
      mkdir -p "$root$1" && mount --bind "$1" "$root$1" || exit 125
      shift
    done
    shift
    exec chroot "$root" /usr/bin/env -u TMPDIR PATH=/usr/local/bin:/usr/bin:/bin HOME=/root "$@"
  ' wine-root "$root" "${tmp[@]}" -- "${no_32bit[@]}" -- "${binds[@]}" -- "$@"
}

case ${1:-} in
  path)
    make_root
    echo "$root"
    ;;
  run)
    shift
    [ $# -gt 0 ] || die "usage: wine-root.sh run CMD..."
    run_in_root "$@"
    ;;
  *) die "usage: wine-root.sh path | run CMD..." ;;
esac
