#!/usr/bin/env bash
# Answers whether this machine runs 32-bit x86 programs, by running one: a
# program of a few instructions, assembled and linked for i386, that exits
# with 42. Some kernels cannot execute 32-bit programs at all ("Exec format
# error"); then 32-bit Wine cannot start either. Exit 0 if it ran; otherwise
# exit 1 with the reason on standard output.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat >"$dir/exit42.s" <<'ASM'
        .globl _start
_start: movl $1, %eax
        movl $42, %ebx
        int  $0x80
ASM
if ! as --32 -o "$dir/exit42.o" "$dir/exit42.s" 2>"$dir/err" || ! ld -m elf_i386 -o "$dir/exit42" "$dir/exit42.o" 2>>"$dir/err"; then
  echo "a 32-bit test program could not be built: $(head -n1 "$dir/err")"
  exit 1
fi
"$dir/exit42" 2>"$dir/err"
rc=$?
if [ "$rc" -eq 42 ]; then exit 0; fi
reason=$(head -n1 "$dir/err")
echo "a 32-bit x86 program does not run here (exit $rc${reason:+: $reason})"
exit 1
