#!/usr/bin/env bash
# The benchmark: bash scripts/bench.sh [ROUNDS]
# Builds (i686, and the module for x86_64 too), prints both DLLs' sizes against
# their limits, then runs devtools/bench under Xvfb in a prefix of its own with
# a default file-DSN folder configured, so the file work is measured too.
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    build_target i686 bkODBCsu bkCommon bkRefSetup bkdsn bench
    build_target x86_64 bkODBCsu
fi
run_under_xvfb "$0" "$@"

grep -v '^#' "$root/bkODBCsu/dll/size-limits.txt" | while read -r target limit; do
    size=$(stat -c %s "$build_root/$target/bin/bkODBCsu.dll")
    printf 'bkODBCsu.dll %-7s %8d bytes (limit %d): %s\n' "$target" "$size" "$limit" \
        "$([ "$size" -le "$limit" ] && echo ok || echo TOO LARGE)"
done

export WINEPREFIX="$build_root/bench-prefix"
wine_up
trap wine_down EXIT
cd "$build_root/i686/bin"
wine bkdsn.exe set-dsn-dir 'C:\windows\temp' >/dev/null
wine bench.exe "$@" | tr -d '\r'
