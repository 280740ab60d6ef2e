#!/usr/bin/env bash
# Succeeds where this machine runs 32-bit x86 programs; otherwise prints why not and fails. It runs a tiny
# i386 program once: some kernels are built or booted without 32-bit support ("Exec format error"), and then
# no 32-bit Wine can start either. KWS_NO_32BIT=1 gives the answer "no" on any machine.
set -uo pipefail
cd "$(dirname "$0")/.."
if [ "${KWS_NO_32BIT:-}" = 1 ]; then
  echo "KWS_NO_32BIT=1 is set"
  exit 1
fi
mkdir -p build
probe=build/probe32
# Exits 0 through the i386 system call gate, with no C library to need.
if ! gcc -m32 -nostdlib -static -o "$probe" -x c - <<<'void _start(void) {
  __asm__ volatile("movl $1, %eax\n\txorl %ebx, %ebx\n\tint $0x80");
}' 2>"$probe.log"; then
  echo "the i386 probe did not build: $(head -1 "$probe.log")"
  exit 1
fi
if ! output=$("./$probe" 2>&1); then
  echo "this kernel runs no 32-bit programs: ${output##*: }"
  exit 1
fi
