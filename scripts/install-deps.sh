#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 or 13. Idempotent; run as root.
set -euo pipefail

# The module itself is built with the win32 thread-model flavour (cmake/win32-threads.sh).
need=(cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest
      wine wine64 wine32:i386 fonts-wine xvfb xauth x11-apps imagemagick procps locales)

# The property test runs once more under a Japanese locale, where Wine's
# ANSI code page is 932 (double-byte names).
japanese_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "no ja_JP.UTF-8 locale; run this script as root" >&2
        return 1
    fi
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

missing=()
for p in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && { japanese_locale; exit $?; }

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}; run this script as root" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
japanese_locale
