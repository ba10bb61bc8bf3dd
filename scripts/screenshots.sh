#!/usr/bin/env bash
# Screenshots of the configuration dialog for the README:
#   bash scripts/screenshots.sh
# builds what is needed (i686), opens the dialog on a sample data source under
# Xvfb through tools/dlgdemo, and writes docs/dialog-collapsed.png and
# docs/dialog-expanded.png. dlgdemo's own output (the steps and the stored
# entry) is printed as it goes.
set -euo pipefail
source "$(dirname "$0")/env.sh"

bash "$root/scripts/install-deps.sh"
build_target i686 bkODBCsu bkCommon dlgdemo
wine_up
trap wine_down EXIT

bin="$build_root/i686/bin"
shots=$(mktemp -d)
trap 'rm -rf "$shots"; wine_down' EXIT
(cd "$bin" && xvfb-run -a -s "-screen 0 1024x768x24" \
    wine dlgdemo.exe --shots "$(winepath -w "$shots" 2>/dev/null)" | tr -d '\r')

mkdir -p "$root/docs"
for shot in collapsed expanded; do
    # The stand-in convert some machines carry cannot read BMP: use the real one.
    /usr/bin/convert "$shots/dialog-$shot.bmp" "$root/docs/dialog-$shot.png"
    echo "wrote docs/dialog-$shot.png"
done
