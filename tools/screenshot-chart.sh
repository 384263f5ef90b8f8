#!/usr/bin/env bash
# Takes screenshots of the accelerometer's live chart with the default
# scenario at 100 % and 200 % display scale: docs/screenshot-chart-100.png
# and screenshot-chart-200.png (or into the given folder). For each scale
# the prefix's LogPixels is set and a fresh wineserver reads it; the prefix
# is put back to 96 dpi afterwards.
set -euo pipefail
source "$(dirname "$0")/screenshot-session.sh" 1900x1300x24 "${1:-}"
for scale in 100 200; do
    dpi=$(( 96 * scale / 100 ))
    width=$(( 900 * scale / 100 ))
    height=$(( 620 * scale / 100 ))
    tessel_set_dpi "$dpi"
    tessel_wine reg delete 'HKCU\Software\Brindle\Tessel' /v Main /f || true
    shot=$folder/screenshot-chart-$scale.png
    "$TESSEL_WINE" explorer /desktop=Tessel,${width}x${height} "$TESSEL_BUILD_DIR/Tessel.exe" \
        >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
    "$TESSEL_WINE" "$driver" wait
    # The second sensor row: the accelerometer.
    "$TESSEL_WINE" "$driver" select 1
    read -r cw ch cx cy < <("$TESSEL_WINE" "$driver" chart | tr -d '\r')
    # Ten seconds of reports fill the default span.
    sleep 11
    import -window root -crop "${cw}x${ch}+${cx}+${cy}" +repage "$shot"
    "$TESSEL_WINE" "$driver" close
    echo "$shot"
done
