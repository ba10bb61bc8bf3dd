#!/usr/bin/env bash
# The README's pictures:
#   bash scripts/screenshots.sh
# builds what is needed (i686) and, under Xvfb in a prefix of its own, writes
#   docs/dialog-collapsed.png, docs/dialog-expanded.png  (devtools/dlgdemo: the
#       dialog opened on a sample data source and driven through a short edit)
#   docs/folder-browser.png  (devtools/browsedemo: the shell folder browser as the
#       dialog opens it for estimating data; nothing is stored)
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    build_target i686 bkODBCsu bkCommon bkDataFolderUI dlgdemo browsedemo
fi
run_under_xvfb "$0" "$@"

export WINEPREFIX="$build_root/shots-prefix"
wine_up
shots=$(mktemp -d)
trap 'rm -rf "$shots"; wine_down' EXIT

bin="$build_root/i686/bin"
(cd "$bin" && wine dlgdemo.exe --shots "$(winepath -w "$shots")" | tr -d '\r')
(cd "$bin" && wine browsedemo.exe "$(winepath -w "$shots/folder-browser.bmp")" | tr -d '\r')

mkdir -p "$root/docs"
for shot in dialog-collapsed dialog-expanded folder-browser; do
    bmp_to_png "$shots/$shot.bmp" "$root/docs/$shot.png"
done
