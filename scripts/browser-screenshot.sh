#!/usr/bin/env bash
# Screenshot of the shell folder browser as the configuration dialog opens it
# for estimating data, for the README:
#   bash scripts/browser-screenshot.sh
# builds what is needed (i686), runs tools/browsedemo under Xvfb and writes
# docs/folder-browser.png. Nothing is stored in the ODBC configuration.
set -euo pipefail
source "$(dirname "$0")/env.sh"

bash "$root/scripts/install-deps.sh"
build_target i686 bkODBCsu bkCommon browsedemo
wine_up
# wine_up's warm-up leaves this prefix a desktop process without a display
# for a moment; windows made before it has gone land on it and never show.
for _ in $(seq 100); do
    busy=0
    for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
        tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && busy=1
    done
    [ $busy = 0 ] && break
    sleep 0.1
done
shots=$(mktemp -d)
trap 'rm -rf "$shots"; wine_down' EXIT

bin="$build_root/i686/bin"
(cd "$bin" && xvfb-run -a -s "-screen 0 1024x768x24" \
    wine browsedemo.exe "$(winepath -w "$shots/folder-browser.bmp" 2>/dev/null)" | tr -d '\r')

mkdir -p "$root/docs"
# The stand-in convert some machines carry cannot read BMP: use the real one.
/usr/bin/convert "$shots/folder-browser.bmp" "$root/docs/folder-browser.png"
echo "wrote docs/folder-browser.png"
