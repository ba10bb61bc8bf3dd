#!/usr/bin/env bash
# The benchmark: bash scripts/bench.sh [ROUNDS]
# Builds (i686), then runs tools/bench under Xvfb in a prefix of its own with
# a default file-DSN folder configured, so the file work is measured too.
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    build_target i686 bkODBCsu bkCommon bkdsn bench
fi
run_under_xvfb "$0" "$@"

export WINEPREFIX="$build_root/bench-prefix"
wine_up
trap wine_down EXIT
cd "$build_root/i686/bin"
wine bkdsn.exe set-dsn-dir 'C:\windows\temp' >/dev/null
wine bench.exe "$@" | tr -d '\r'
