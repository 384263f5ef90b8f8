#!/usr/bin/env bash
# Takes screenshots of Tessel's default window (no saved placement) at
# 100 %, 150 % and 200 % display scale: docs/screenshot-100.png,
# screenshot-150.png and screenshot-200.png (or into the given folder). For
# each scale the prefix's LogPixels is set and a fresh wineserver reads it;
# the prefix is put back to 96 dpi afterwards.
set -euo pipefail
source "$(dirname "$0")/screenshot-session.sh" 1700x1100x24 "${1:-}"
for scale in 100 150 200; do
    dpi=$(( 96 * scale / 100 ))
    width=$(( 800 * scale / 100 ))
    height=$(( 520 * scale / 100 ))
    tessel_set_dpi "$dpi"
    # The default window: as a first start shows it.
    tessel_wine reg delete 'HKCU\Software\Brindle\Tessel' /v Main /f || true
    shot=$folder/screenshot-$scale.png
    "$TESSEL_WINE" explorer /desktop=Tessel,${width}x${height} "$TESSEL_BUILD_DIR/Tessel.exe" \
        >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
    "$TESSEL_WINE" "$driver" wait
    sleep 3
    import -window root -crop "${width}x${height}+0+0" +repage "$shot"
    "$TESSEL_WINE" "$driver" close
    echo "$shot"
done
