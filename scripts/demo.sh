#!/usr/bin/env bash
# The main job on a fresh machine: build the setup module, register it as an
# ODBC driver in a throwaway Wine prefix, then add, configure and remove a data
# source silently through the ODBC installer, printing what is stored each time.
# Then the configuration dialog: opened on a stored data source as the ODBC
# Data Source Administrator opens it, driven through a short edit (a folder
# chosen through the data-folder component, the options expanded and changed),
# OK, and the stored entry printed; its screenshots go to <build>/demo-shots
# (scripts/screenshots.sh makes the ones in docs/).
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    build_target i686 bkODBCsu bkCommon bkdsn bkDataFolderUI dlgdemo
fi
run_under_xvfb "$0" "$@"

export WINEPREFIX="$build_root/demo-prefix"
rm -rf "$WINEPREFIX"
wine_up
trap wine_down EXIT

bin="$build_root/i686/bin"
dsn_dir="$WINEPREFIX/drive_c/DSN"
mkdir -p "$dsn_dir"
driver="Brennick Data ODBC Driver"
bkdsn() { (cd "$bin" && wine bkdsn.exe "$@" | tr -d '\r'); }
show_file() {
    echo "-- file DSNs in C:\\DSN:"
    local f found=0
    for f in "$dsn_dir"/*; do
        [ -e "$f" ] || continue
        found=1; echo "   $(basename "$f"):"; sed 's/\r$//; s/^/      /' "$f"
    done
    [ $found = 1 ] || echo "   (none)"
}

echo "== register the driver and the default file-DSN folder"
bkdsn install-driver "$driver" "$(winepath -w "$bin/bkODBCsu.dll" 2>/dev/null)"
bkdsn set-dsn-dir 'C:\DSN'

echo; echo "== add data source Sales silently"
bkdsn add "$driver" DSN=Sales 'DBQ=C:\Books\Sales' MaxColSupport=1536 DatabaseType=1
bkdsn show Sales; show_file

echo; echo "== configure one key (ShortenNames=1); the other keys stay"
bkdsn config "$driver" DSN=Sales ShortenNames=1
bkdsn show Sales; show_file

echo; echo "== remove data source Sales"
bkdsn remove "$driver" DSN=Sales
bkdsn show Sales || true
echo "   (Wine's installer removes the registration; the keys it stored per user stay)"
show_file

echo; echo "== the configuration dialog on data source Payroll"
shots=$(mktemp -d)
trap 'rm -rf "$shots"; wine_down' EXIT
(cd "$bin" && wine dlgdemo.exe --dsn Payroll --shots "$(winepath -w "$shots")" \
    --component-folder 'C:\Brennick\Accounting\Companies\Harbour Joinery 2025\Data' | tr -d '\r')
bkdsn show Payroll
show_file
mkdir -p "$build_root/demo-shots"
for shot in dialog-collapsed dialog-expanded; do
    bmp_to_png "$shots/$shot.bmp" "$build_root/demo-shots/$shot.png"
done
