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

# The package registry fails in ways that pass with time (a mirror serving an
# index that does not match its release file while it syncs, a mirror out of
# reach): those are retried, BK_APT_ATTEMPTS times with BK_APT_PAUSE seconds
# between, and when they persist one line says that the registry, not this
# machine, is at fault. Whatever else apt refuses (held packages, a full
# disk) is the machine's and is left in apt's own words.
attempts=${BK_APT_ATTEMPTS:-3}
pause=${BK_APT_PAUSE:-20}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# What apt could not get from the registry in the run logged: each index or
# package file it failed to fetch (else the indexes it reported as errors),
# space-separated; nothing when it got all.
not_served() {
    local urls
    urls=$(grep -oE 'Failed to fetch [^ ]+' "$log" | awk '{print $4}' | sort -u | tr '\n' ' ')
    [ -n "$urls" ] || urls=$(sed -nE 's/^Err:[0-9]+ (.*)$/\1;/p' "$log" | sort -u | tr '\n' ' ')
    echo "${urls% }"
}
registry_fault() {
    [ -n "$(not_served)" ] || grep -qE 'Some index files failed to download|Mirror sync in progress|Hash Sum mismatch|Unable to fetch some archives' "$log"
}

# apt_with_retries WHAT COMMAND...: the command, again while the registry is
# at fault; its output and status once it succeeds or fails otherwise.
apt_with_retries() {
    local what=$1 attempt status; shift
    for ((attempt = 1; attempt <= attempts; attempt++)); do
        status=0
        "$@" >"$log" 2>&1 || status=$?
        if ! registry_fault; then
            [ $status -eq 0 ] && { cat "$log"; return 0; }
            cat "$log" >&2
            return $status
        fi
        [ $attempt -lt $attempts ] && sleep "$pause"
    done
    local missed; missed=$(not_served)
    echo "install-deps: the package registry, not this machine, is at fault: after $attempts attempts it still did not serve ${missed:-$what}" >&2
    return 100
}

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
# A failed index is a failure: without --error-on=any apt reports it and exits 0.
apt_with_retries "the package indexes" apt-get update -q --error-on=any
# A package file the registry did not serve may be one a stale index named:
# each attempt after the first reads the indexes again.
install_missing() {
    [ "$attempt" -eq 1 ] || apt-get update -q --error-on=any || true
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}
apt_with_retries "the packages ${missing[*]}" install_missing
japanese_locale
