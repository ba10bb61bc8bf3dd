#!/usr/bin/env bash
# Builds both targets and runs the whole test suite under Wine and Xvfb.
set -euo pipefail
source "$(dirname "$0")/env.sh"

if [ -z "${BK_UNDER_XVFB:-}" ]; then
    bash "$root/scripts/install-deps.sh"
    for target in i686 x86_64; do build_target "$target"; done
fi
run_under_xvfb "$0" "$@"

wine_up
trap wine_down EXIT
# One line naming what runs, so that a log shows which platform it came from.
echo "== platform: $(. /etc/os-release && echo "$PRETTY_NAME"), $(wine --version)"
status=0
for target in i686 x86_64; do
    echo "== tests for $target"
    (cd "$build_root/$target" && ctest --output-on-failure --timeout 300) || status=1
done
exit $status
