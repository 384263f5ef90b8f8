#!/usr/bin/env bash
# Takes screenshots of the accelerometer's properties dialog, with its live
# report rate rows, at 100 % and 200 % display scale:
# docs/screenshot-rates-100.png and screenshot-rates-200.png (or into the
# given folder). The prefix is put back to 96 dpi afterwards.
set -euo pipefail
source "$(dirname "$0")/screenshot-session.sh" 1700x1100x24 "${1:-}"
for scale in 100 200; do
    tessel_set_dpi $(( 96 * scale / 100 ))
    width=$(( 800 * scale / 100 ))
    height=$(( 520 * scale / 100 ))
    tessel_wine reg delete 'HKCU\Software\Brindle\Tessel' /v Main /f || true
    "$TESSEL_WINE" explorer /desktop=Tessel,${width}x${height} "$TESSEL_BUILD_DIR/Tessel.exe" \
        >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
    "$TESSEL_WINE" "$driver" wait
    # The second sensor row: the accelerometer of the default scenario.
    "$TESSEL_WINE" "$driver" select 1
    read -r w h x y < <("$TESSEL_WINE" "$driver" properties | tr -d '\r')
    # A few seconds of reports for the rate to settle.
    sleep 4
    shot=$folder/screenshot-rates-$scale.png
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shot"
    "$TESSEL_WINE" "$driver" close
    echo "$shot"
done
