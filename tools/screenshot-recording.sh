#!/usr/bin/env bash
# Opens a sample recording (tools/make_sample_recording.py) in Tessel's
# recording window under Xvfb and saves a screenshot of it:
# docs/screenshot-recording.png, or the path given. A second argument sets
# the display scale in percent (100 by default; the prefix is put back to
# 96 dpi afterwards).
set -euo pipefail
source "$(dirname "$0")/env.sh"
shot=${1:-$TESSEL_ROOT/docs/screenshot-recording.png}
scale=${2:-100}
TESSEL_BUILD_TARGETS="Tessel TesselDriver SensorSim" "$TESSEL_ROOT/tools/build.sh"
export TESSEL_HEADLESS=1
export TESSEL_XVFB_SCREEN=2200x1400x24
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session

trap 'tessel_set_dpi 96; tessel_end_session' EXIT
tessel_set_dpi $(( 96 * scale / 100 ))

recording=$TESSEL_BUILD_DIR/sample-recording.csv
python3 "$TESSEL_ROOT/tools/make_sample_recording.py" "$recording"
width=$(( 1000 * scale / 100 ))
height=$(( 660 * scale / 100 ))
driver=$TESSEL_BUILD_DIR/TesselDriver.exe
"$TESSEL_WINE" explorer /desktop=Tessel,${width}x${height} "$TESSEL_BUILD_DIR/Tessel.exe" \
    >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
"$TESSEL_WINE" "$driver" wait
read -r w h x y < <("$TESSEL_WINE" "$driver" open "$(printf 'Z:%s' "$(echo "$recording" | tr / '\\')")" | tr -d '\r')
sleep 3
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shot"
"$TESSEL_WINE" "$driver" close || true
echo "$shot"
