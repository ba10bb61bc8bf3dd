#!/bin/sh
# Makes a delay-import library for a system DLL from mingw-w64's import library:
#   delaylib.sh TRIPLE COMPILER NAME OUTPUT     e.g. i686-w64-mingw32 <g++> shell32 libshell32_delay.a
# A function reached through it is bound on its first call, and the DLL is
# loaded then, not when the module is. Data exports are not meant to be used
# through it.
set -eu
triple=$1 compiler=$2 name=$3 output=$4
import=$("$compiler" -print-file-name="lib$name.a")
def="$output.def"
{
    echo "LIBRARY $name.dll"
    echo "EXPORTS"
    # Every function the import library offers: __imp_ names, with the C
    # prefix underscore of 32-bit symbols dropped (dlltool adds it back).
    case $triple in
    i686-*) "$triple-nm" "$import" | sed -n 's/^.* I __imp__//p' ;;
    *)      "$triple-nm" "$import" | sed -n 's/^.* I __imp_//p' ;;
    esac | sort -u
} >"$def"
# Each function's slot first holds a stub that has BkDelayResolve (the
# module's, DelayResolve.cpp beside this script) load the DLL, look the function up,
# store it in the slot and return it, and then jumps there with the caller's
# arguments untouched. The slots are the module's own, in a writable section .bkdl of
# their own: the linker's delay-import tables are not used, since where they
# land and how they are protected differs between linker versions (binutils
# 2.40 leaves the 32-bit slots empty; 2.44 puts the 64-bit ones in a read-only
# .idata), and the store would fault. One section per function, so that the
# linker keeps only those used; a function that two of these DLLs export
# (shell32 and shlwapi share a few) is kept once, from the first library
# named, as with import libraries.
asm="$output.S"
tag=$(printf '%s' "$name" | tr -c 'A-Za-z0-9' '_')
case $triple in
i686-*)   prefix=_ resolve=_BkDelayResolve@12 pointer=.long pointer_align=2 rip= ;;
x86_64-*) prefix=  resolve=BkDelayResolve   pointer=.quad pointer_align=3 rip='(%rip)' ;;
*) echo "delaylib.sh: no stubs for $triple" >&2; exit 1 ;;
esac
# Per function: the slot, the jump through it, and a first-call stub that
# passes the slot and the function's name to the DLL's common stub, which
# calls BkDelayResolve. The first-call stubs touch no stack, so only the
# common stubs need unwind data (64-bit): the exception of a missing DLL or
# function passes through them, and unwind data is never collected by the
# linker, so one per DLL keeps the image small.
stub() {   # stub SYMBOL N
    sym=$1 n=$2 slot="__imp_$prefix$1"
    cat <<ASM
	.section ".bkdl\$$sym","dw"
	.linkonce discard
	.globl "$slot"
	.p2align $pointer_align
"$slot":	$pointer "bkdl_load_$sym"
	.section ".text\$bkdl_$sym","x"
	.linkonce discard
	.globl "$prefix$sym"
"$prefix$sym":	jmp *"$slot"$rip
	.section ".text\$bkdl_load_$sym","x"
	.linkonce discard
"bkdl_load_$sym":
ASM
    case $triple in
    i686-*) printf '\tpushl $"%s"\n\tpushl $bkdl_name_%s\n' "$slot" "$n" ;;
    x86_64-*) printf '\tleaq "%s"(%%rip), %%r10\n\tleaq bkdl_name_%s(%%rip), %%r11\n' "$slot" "$n" ;;
    esac
    cat <<ASM
	jmp bkdl_common_$tag
	.section ".rdata\$bkdl_$sym","dr"
	.linkonce discard
bkdl_name_$n:	.asciz "${sym%@*}"
ASM
}
# The DLL's common stub: BkDelayResolve(dll, name, slot), then on to the function.
common() {
    printf '\t.section .rdata$bkdl_%s,"dr"\nbkdl_dll_%s:\t.asciz "%s.dll"\n' "$tag" "$tag" "$name"
    printf '\t.section .text$bkdl_common_%s,"x"\nbkdl_common_%s:\n' "$tag" "$tag"
    case $triple in
    # The slot and the name are on the stack already; the callee pops all three.
    i686-*) cat <<ASM
	pushl \$bkdl_dll_$tag
	call $resolve
	jmp *%eax
ASM
    ;;
    # The four argument registers and their vector twins are kept across the
    # call; 4 pushes + 104 bytes keep the stack 16-byte aligned at the call,
    # with the 32 bytes of home space the callee may use at its bottom.
    x86_64-*) cat <<ASM
	.seh_proc bkdl_common_$tag
	pushq %rcx
	.seh_pushreg %rcx
	pushq %rdx
	.seh_pushreg %rdx
	pushq %r8
	.seh_pushreg %r8
	pushq %r9
	.seh_pushreg %r9
	subq \$104, %rsp
	.seh_stackalloc 104
	.seh_endprologue
	movdqu %xmm0, 32(%rsp)
	movdqu %xmm1, 48(%rsp)
	movdqu %xmm2, 64(%rsp)
	movdqu %xmm3, 80(%rsp)
	leaq bkdl_dll_$tag(%rip), %rcx
	movq %r11, %rdx
	movq %r10, %r8
	call $resolve
	movdqu 32(%rsp), %xmm0
	movdqu 48(%rsp), %xmm1
	movdqu 64(%rsp), %xmm2
	movdqu 80(%rsp), %xmm3
	addq \$104, %rsp
	popq %r9
	popq %r8
	popq %rdx
	popq %rcx
	jmp *%rax
	.seh_endproc
ASM
    ;;
    esac
}
{
    common
    n=0
    sed -n '3,$p' "$def" | while read -r sym; do
        n=$((n + 1))
        stub "$sym" "$n"
    done
} >"$asm"
"$compiler" -c "$asm" -o "$output.o"
rm -f "$output"
"$triple-ar" rcs "$output" "$output.o"
