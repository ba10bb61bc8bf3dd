#!/usr/bin/env bash
# Builds both targets and runs the whole test suite under Wine and Xvfb.
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    for target in i686 x86_64; do build_target "$target"; done
    # Everything Wine starts from here on, its desktop process included, must
    # see the display: windows made on a desktop without one never appear.
    exec env BK_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

wine_up
trap wine_down EXIT
status=0
for target in i686 x86_64; do
    echo "== tests for $target"
    (cd "$build_root/$target" && ctest --output-on-failure --timeout 300) || status=1
done
exit $status
