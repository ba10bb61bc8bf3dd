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
case $triple in
x86_64-*)
    "$triple-dlltool" --input-def "$def" --dllname "$name.dll" --output-delaylib "$output"
    exit 0 ;;
esac

# i686: binutils 2.40's dlltool makes 32-bit delay-import libraries whose address
# slots the linker leaves empty, so the slots are written here instead: each
# function's slot first holds a stub that has BkDelayResolve (the module's,
# afx/ModuleRuntime.cpp) load the DLL, look the function up, store it in the
# slot and return it, and then jumps there with the caller's arguments untouched.
# One section per function, so that the linker keeps only those used; a
# function that two of these DLLs export (shell32 and shlwapi share a few) is
# kept once, from the first library named, as with import libraries.
asm="$output.S"
tag=$(printf '%s' "$name" | tr -c 'A-Za-z0-9' '_')
{
    printf '	.section .rdata$bkdl_%s,"dr"
bkdl_dll_%s:	.asciz "%s.dll"
' "$tag" "$tag" "$name"
    n=0
    sed -n '3,$p' "$def" | while read -r sym; do
        n=$((n + 1))
        cat <<ASM
	.section ".data\$bkdl_$sym","w"
	.linkonce discard
	.globl "__imp__$sym"
"__imp__$sym":	.long "bkdl_load_$sym"
	.section ".text\$bkdl_$sym","x"
	.linkonce discard
	.globl "_$sym"
"_$sym":	jmp *"__imp__$sym"
	.section ".text\$bkdl_load_$sym","x"
	.linkonce discard
	.globl "bkdl_load_$sym"
"bkdl_load_$sym":
	pushl \$"__imp__$sym"
	pushl \$bkdl_name_$n
	pushl \$bkdl_dll_$tag
	call _BkDelayResolve@12
	jmp *%eax
	.section ".rdata\$bkdl_$sym","dr"
	.linkonce discard
bkdl_name_$n:	.asciz "${sym%@*}"
ASM
    done
} >"$asm"
"$compiler" -c "$asm" -o "$output.o"
rm -f "$output"
"$triple-ar" rcs "$output" "$output.o"
