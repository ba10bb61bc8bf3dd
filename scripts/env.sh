# Sourced by the scripts: the build folders and a Wine prefix of the project's
# own, kept inside the build tree so no test touches the user's Wine setup.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# BK_BUILD_ROOT lets several working copies or people build side by side.
build_root=${BK_BUILD_ROOT:-$root/build}
export WINEPREFIX="$build_root/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts while the prefix is created.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# IsCharAlphaA and the multibyte runtime follow the ANSI code page: pin it.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

# Configure and build one target (i686 or x86_64) into <build root>/<target>;
# everything, or only the CMake targets named after it.
build_target() {
    local target=$1; shift
    cmake -S "$root" -B "$build_root/$target" \
          -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake" >/dev/null
    cmake --build "$build_root/$target" -j"$(nproc)" ${1:+--target "$@"}
}

# Creates the prefix once and keeps a warm wineserver running, detached from
# our output so that test runners are not kept waiting on its pipes.
wine_up() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i </dev/null >/dev/null 2>&1 || true
        wineserver -w
    fi
    setsid wineserver -p </dev/null >/dev/null 2>&1 &
    setsid wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    wine_remap_ports
}

# Wine gives a prefix's COM and LPT ports the machine's real serial and
# parallel devices. Nothing run here may reach one: every port of the prefix
# becomes an ordinary file under $WINEPREFIX/ports, in the registry (which
# Wine's port driver reads when a session starts) and in the dosdevices links
# that the driver of the running session made. Each file holds one marker
# line, so a test can tell a mapped file from a device without opening it.
wine_remap_ports() {
    local ports="$WINEPREFIX/ports" reg link name n kind
    mkdir -p "$ports"
    reg="$ports/ports.reg"
    {
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        for kind in com lpt; do
            for n in $(seq 1 255); do
                printf '"%s%d"="%s"\n' "${kind^^}" "$n" "$ports/$kind$n"
            done
        done
    } >"$reg"
    wine regedit /S "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1
    for link in "$WINEPREFIX"/dosdevices/com* "$WINEPREFIX"/dosdevices/lpt* \
                $(printf "$WINEPREFIX/dosdevices/com%d " $(seq 1 255)) \
                $(printf "$WINEPREFIX/dosdevices/lpt%d " $(seq 1 255)); do
        name=$(basename "$link")
        [[ $name =~ ^(com|lpt)[0-9]+$ ]] || continue
        printf 'bk-port %s\n' "$name" >"$ports/$name"
        ln -sfn "$ports/$name" "$link"
    done
}

# Re-runs the calling script (once) inside a fresh Xvfb display, so that
# everything Wine starts, its desktop process included, sees that display:
# windows made on a desktop without one never appear. Usage:
#   run_under_xvfb "$0" "$@"
# The display is the first one free both here and in the network namespace:
# a root entered with chroot (scripts/debian13.sh) has a /tmp of its own, so
# xvfb-run's lock files cannot see a display the machine itself is using,
# but /proc/net/unix lists the listening X sockets of both. A run that starts
# beside another (CI's two platforms) takes displays from BK_DISPLAY_BASE on.
run_under_xvfb() {
    if [ -z "${BK_UNDER_XVFB:-}" ]; then
        local n=${BK_DISPLAY_BASE:-99}
        while [ -e "/tmp/.X$n-lock" ] || grep -q "/tmp/.X11-unix/X$n\$" /proc/net/unix; do
            n=$((n + 1))
        done
        exec env BK_UNDER_XVFB=1 xvfb-run -n "$n" -s "-screen 0 1024x768x24" bash "$@"
    fi
}

# A BMP written by a demo program, as a PNG for the docs. The real convert:
# some machines carry a stand-in under another path that cannot read BMP.
bmp_to_png() {
    /usr/bin/convert "$1" "$2" && echo "wrote ${2#$root/}"
}

wine_down() {
    wineserver -k >/dev/null 2>&1 || true
}
