#!/usr/bin/env bash
# Runs the whole suite on Debian 13 (Wine 10, mingw-w64 12, binutils 2.44):
# both targets built with that system's toolchain and every CTest entry run
# under its Wine, inside a minimal root made by debootstrap. Run as root.
#
# The root is made once and kept outside the clone, in $BK_CACHE_DIR
# (default /var/cache/bkodbcsu), as debian13/. It is reused while it is
# complete and its packages were installed by the current install-deps.sh,
# brought up to date when that script changed, and remade when it is missing
# or broken. Builds go to <build root>/debian13/, beside this machine's.
#   debian13.sh            make or refresh the root, then build and test in it
#   debian13.sh prepare    only make or refresh the root
#   debian13.sh run CMD…   run one command in the root (the clone at the same path)
set -euo pipefail
source "$(dirname "$0")/env.sh"

cache=${BK_CACHE_DIR:-/var/cache/bkodbcsu}
target=$cache/debian13
suite=trixie
mirror=${BK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# Written last when the root is made: a root without it was interrupted.
complete=$target/.bk-root-complete
# The hash of the install-deps.sh whose packages the root holds.
installed=$target/.bk-deps

if [ "$(id -u)" -ne 0 ]; then
    echo "debian13.sh makes and enters a chroot: run it as root" >&2
    exit 1
fi
command -v debootstrap >/dev/null || {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
}

# What is mounted, in order, so that exactly that is unmounted, in reverse,
# however the script ends.
mounted=()
cleanup() {
    local p i
    # Nothing started inside may keep a mount busy (a wineserver, Xvfb).
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$target" ] && kill -9 "${p#/proc/}" 2>/dev/null
    done
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
    done
    mounted=()
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
mount_in() {   # mount_in TARGET-IN-ROOT MOUNT-ARGS...
    local at=$target$1; shift
    mkdir -p "$at"
    mount "$@" "$at"
    mounted+=("$at")
}

root_usable() {
    [ -f "$complete" ] && chroot "$target" /usr/bin/apt-get --version >/dev/null 2>&1
}

make_root() {
    echo "== making a Debian 13 root in $target"
    rm -rf --one-file-system "$target"
    mkdir -p "$cache"
    debootstrap --variant=minbase "$suite" "$target" "$mirror"
    touch "$complete"
}

deps_hash=$(sha256sum "$root/scripts/install-deps.sh" | cut -d' ' -f1)
root_usable || make_root
cp /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true

mount_in /proc -t proc proc
mount_in /sys --bind /sys
mount_in /dev --bind /dev
mount_in /dev/pts --bind /dev/pts
mount_in /dev/shm -t tmpfs tmpfs
mount_in "$root" --bind "$root"
[ "$build_root" = "$root/build" ] || mount_in "$build_root" --bind "$build_root"

# In the background with a wait, so that a signal to this script runs the
# clean-up at once instead of after the command.
in_root() {
    chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@" &
    wait $!
}
if [ "$(cat "$installed" 2>/dev/null)" != "$deps_hash" ]; then
    echo "== installing the suite's packages in the Debian 13 root"
    in_root bash "$root/scripts/install-deps.sh"
    echo "$deps_hash" >"$installed"
fi

case ${1:-} in
prepare) exit 0 ;;
run) shift; in_root env BK_BUILD_ROOT="$build_root/debian13" "$@"; exit ;;
esac
in_root env BK_BUILD_ROOT="$build_root/debian13" BK_DISPLAY_BASE=${BK_DISPLAY_BASE:-199} \
    ${CI:+CI=$CI} bash "$root/scripts/test.sh" "$@"
