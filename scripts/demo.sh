#!/usr/bin/env bash
# The main job on a fresh machine: build the setup module, register it as an
# ODBC driver in a throwaway Wine prefix, then add, configure and remove a data
# source silently through the ODBC installer, printing what is stored each time,
# and a system data source, printing which hive holds its keys; a batch file
# deploying three data sources, listed, a look-alike name refused, and a
# UTF-16 batch removing them again.
# Then the configuration dialog: opened on a stored data source as the ODBC
# Data Source Administrator opens it, driven through a short edit (a folder
# chosen through the data-folder component, the options expanded and changed),
# OK, and the stored entry printed; its screenshots go to <build>/demo-shots
# (scripts/screenshots.sh makes the ones in docs/). All of it twice: with
# Wine's installer, and with the stand-in that keeps to the installer's
# documented contract, as Windows does.
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    build_target i686 bkODBCsu bkCommon bkdsn bkDataFolderUI dlgdemo odbccp32_contract
fi
run_under_xvfb "$0" "$@"

bin="$build_root/i686/bin"
driver="Brennick Data ODBC Driver"

# The same programs with the stand-in installer that keeps to the installer's
# documented contract beside them, where odbccp32=n makes it the one loaded.
contract_bin="$build_root/i686/demo-contract"
rm -rf "$contract_bin"; mkdir -p "$contract_bin"
cp "$bin"/bkdsn.exe "$bin"/dlgdemo.exe "$bin"/bkODBCsu.dll "$bin"/bkCommon.dll \
   "$bin"/bkDataFolderUI.dll "$bin"/standin-contract/odbccp32.dll "$contract_bin"/

# One run of the main job in a prefix of its own: $1 the programs' folder,
# $2 the prefix, $3 "shots" to keep the dialog's screenshots.
run_demo() {
    local dir=$1 shots_wanted=${3:-}
    export WINEPREFIX=$2
    rm -rf "$WINEPREFIX"
    wine_up
    local dsn_dir="$WINEPREFIX/drive_c/DSN"
    mkdir -p "$dsn_dir"
    bkdsn() { (cd "$dir" && wine bkdsn.exe "$@" | tr -d '\r'); }
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
    bkdsn install-driver "$driver" "$(winepath -w "$dir/bkODBCsu.dll" 2>/dev/null)"
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
    show_file

    echo; echo "== add system data source Ledger (add-sys), configure it (config-sys): where its keys go"
    bkdsn add-sys "$driver" DSN=Ledger 'DBQ=C:\Books\Ledger' DatabaseType=2
    bkdsn config-sys "$driver" DSN=Ledger StandardMode=1
    bkdsn show Ledger
    bkdsn remove-sys "$driver" DSN=Ledger
    echo "-- after remove-sys:"
    bkdsn show Ledger || true

    echo; echo "== deploy from a batch file, one request per line, then list what is configured"
    cat >"$WINEPREFIX/drive_c/deploy.txt" <<DEPLOY
# The accounts office's data sources
add "$driver" DSN=Sales "DBQ=C:\\Books\\Sales" DatabaseType=1
add "$driver" DSN=Payables "DBQ=C:\\Books\\Payables" ShortenNames=1
add-sys "$driver" DSN=Estimates "DBQ=C:\\Books\\Estimates" DatabaseType=2   # the machine's
DEPLOY
    sed 's/^/   /' "$WINEPREFIX/drive_c/deploy.txt"
    bkdsn batch 'C:\deploy.txt'
    bkdsn list "$driver"
    show_file

    echo; echo "== a look-alike name is refused: Ŝ (U+015C) is not in the code page, and Sales stays as it was"
    bkdsn remove "$driver" 'DSN=Ŝales' || true
    bkdsn show Sales

    echo; echo "== remove them again, from a UTF-16 batch file"
    { printf '\xFF\xFE'
      printf 'remove "%s" DSN=Sales\r\nremove "%s" DSN=Payables\r\nremove-sys "%s" DSN=Estimates\r\n' \
          "$driver" "$driver" "$driver" | iconv -f UTF-8 -t UTF-16LE; } >"$WINEPREFIX/drive_c/undeploy.txt"
    bkdsn batch 'C:\undeploy.txt'
    bkdsn list

    echo; echo "== the configuration dialog on data source Payroll"
    local shots
    shots=$(mktemp -d)
    (cd "$dir" && wine dlgdemo.exe --dsn Payroll --shots "$(winepath -w "$shots")" \
        --component-folder 'C:\Brennick\Accounting\Companies\Harbour Joinery 2025\Data' | tr -d '\r')
    bkdsn show Payroll
    show_file
    if [ "$shots_wanted" = shots ]; then
        mkdir -p "$build_root/demo-shots"
        for shot in dialog-collapsed dialog-expanded; do
            bmp_to_png "$shots/$shot.bmp" "$build_root/demo-shots/$shot.png"
        done
    fi
    rm -rf "$shots"
    wine_down
}
trap wine_down EXIT

echo "######## with Wine's ODBC installer, $(wine --version)"
case $(wine --version) in
wine-8.*)
    echo "(Wine 8 keeps every key in the user's ODBC.INI, whatever the data source's scope,"
    echo " and its removal leaves them there; its profile functions read only the user's"
    echo " hive, where it keeps no registrations, so bkdsn list finds none)" ;;
*)  echo "(each data source wholly in its scope's ODBC.INI, as documented)" ;;
esac
run_demo "$bin" "$build_root/demo-prefix" shots

echo; echo "######## with the stand-in installer that keeps to the documented contract"
echo "(user data sources wholly in the user's ODBC.INI, system ones wholly in the machine's)"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;odbccp32=n"
run_demo "$contract_bin" "$build_root/demo-prefix-contract"
