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
}

# Re-runs the calling script (once) inside a fresh Xvfb display, so that
# everything Wine starts, its desktop process included, sees that display:
# windows made on a desktop without one never appear. Usage:
#   run_under_xvfb "$0" "$@"
run_under_xvfb() {
    if [ -z "${BK_UNDER_XVFB:-}" ]; then
        exec env BK_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$@"
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
