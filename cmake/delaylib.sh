#!/bin/sh
# Makes a delay-import library for a system DLL from mingw-w64's import library:
#   delaylib.sh TRIPLE COMPILER NAME OUTPUT     e.g. i686-w64-mingw32 <g++> shell32 libshell32_delay.a
# A function reached through it is bound on its first call, and the DLL is
# loaded then, not when the module is.
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
i686-*) kill_at=-k ;;
*)      kill_at= ;;
esac
"$triple-dlltool" $kill_at --input-def "$def" --dllname "$name.dll" --output-delaylib "$output"
