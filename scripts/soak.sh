#!/usr/bin/env bash
# The long-running caller: bash scripts/soak.sh [CYCLES [ADDS]]
# Builds both targets, then runs devtools/soak for each in a prefix of its own:
# CYCLES (default 10000) loads, silent adds and unloads of the module, then ADDS
# (default 2000) silent adds through SQLConfigDataSource, with the process's TLS
# indices, handles and committed memory printed along the way. Fails when a
# request fails or a figure keeps growing.
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    for target in i686 x86_64; do build_target "$target" bkODBCsu bkCommon bkdsn soak; done
fi
run_under_xvfb "$0" "$@"

export WINEPREFIX="$build_root/soak-prefix"
wine_up
trap wine_down EXIT
status=0
for target in i686 x86_64; do
    echo "== soak for $target"
    cd "$build_root/$target/bin"
    wine bkdsn.exe set-dsn-dir 'C:\windows\temp' >/dev/null
    wine soak.exe "$@" | tr -d '\r' || status=1
done
exit $status
