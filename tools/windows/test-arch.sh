#!/usr/bin/env bash
# Which Windows build the tests run under Wine on this machine: "i686", the
# product itself, where the kernel runs 32-bit x86 programs, else "x86_64", a
# build of the same sources for the tests only, under 64-bit Wine. Wine's
# 32-bit loader is an i386 ELF program: some kernels run none ("32-bit
# emulation disabled", every one fails with "Exec format error"). So this
# starts one, a tiny static i386 program, rather than trusting a kernel
# version or a flag.
#
# Usage: arch=$(tools/windows/test-arch.sh)
# PELORIN_WINDOWS_TEST_ARCH=i686 or x86_64 decides without trying (x86_64 is
# the way to try the 64-bit way on a machine that runs 32-bit programs). One
# line on stderr says why.
set -euo pipefail

say() { echo "test-arch: $*" >&2; }

case ${PELORIN_WINDOWS_TEST_ARCH:-} in
  i686 | x86_64)
    say "$PELORIN_WINDOWS_TEST_ARCH, as PELORIN_WINDOWS_TEST_ARCH says"
    echo "$PELORIN_WINDOWS_TEST_ARCH"
    exit 0
    ;;
  '') ;;
  *)
    say "error: PELORIN_WINDOWS_TEST_ARCH is i686 or x86_64, not '$PELORIN_WINDOWS_TEST_ARCH'"
    exit 2
    ;;
esac

# In the clone's build folder: /tmp may forbid running programs.
probe_dir=$(cd "$(dirname "$0")/../.." && pwd)/build/windows-probe
mkdir -p "$probe_dir"
probe=$probe_dir/i386-exit-0
if [ ! -x "$probe" ]; then
  # exit(0) through the 32-bit system call gate: no library, no loader.
  printf '%s\n' '.globl _start' '_start:' 'movl $1, %eax' 'xorl %ebx, %ebx' 'int $0x80' |
    as --32 -o "$probe.o" - && ld -m elf_i386 -o "$probe.partial" "$probe.o" ||
    {
      say "error: binutils cannot make an i386 program"
      exit 1
    }
  mv "$probe.partial" "$probe"
fi

status=0
failure=$("$probe" 2>&1) || status=$?
if [ "$status" -eq 0 ]; then
  say "i686: this machine runs 32-bit programs"
  echo i686
else
  failure=${failure##*: }
  say "x86_64: this machine runs no 32-bit programs (a static i386 program: ${failure:-exit status $status})"
  echo x86_64
fi
