#!/usr/bin/env bash
# Runs Tessel under Xvfb with the simulator's states scenario and saves two
# screenshots: the main window with sensors that show nothing yet and why
# (docs/screenshot-states.png), and the properties dialog of the sensor that
# is denied access (docs/screenshot-properties.png). Other paths may be given.
# TESSEL_SCALE=200 takes them at 200 % display scale instead (the names get
# "-200" before ".png").
set -euo pipefail
source "$(dirname "$0")/env.sh"
scale=${TESSEL_SCALE:-100}
suffix=$([ "$scale" = 100 ] && echo "" || echo "-$scale")
states_shot=${1:-$TESSEL_ROOT/docs/screenshot-states$suffix.png}
properties_shot=${2:-$TESSEL_ROOT/docs/screenshot-properties$suffix.png}
TESSEL_BUILD_TARGETS="Tessel TesselDriver SensorSim" "$TESSEL_ROOT/tools/build.sh"
export TESSEL_HEADLESS=1
desktop=$(( 800 * scale / 100 ))x$(( 520 * scale / 100 ))
export TESSEL_XVFB_SCREEN=$(( 1024 * scale / 100 ))x$(( 768 * scale / 100 ))x24
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session
if [ "$scale" != 100 ]; then
    trap 'tessel_set_dpi 96; tessel_end_session' EXIT
    tessel_set_dpi $(( 96 * scale / 100 ))
fi

scenario=$TESSEL_BUILD_DIR/simulator/scenarios/states.ini
export TESSEL_SENSOR_SCENARIO=$(printf 'Z:%s' "$(echo "$scenario" | tr / '\\')")
driver=$TESSEL_BUILD_DIR/TesselDriver.exe
"$TESSEL_WINE" explorer /desktop=Tessel,$desktop "$TESSEL_BUILD_DIR/Tessel.exe" \
    >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
"$TESSEL_WINE" "$driver" wait
# The GPS receiver is still looking for satellites for the first 3 s.
sleep 1
import -window root -crop "$desktop+0+0" +repage "$states_shot"
# The second sensor row: the location provider that is denied access.
"$TESSEL_WINE" "$driver" select 1
read -r width height x y < <("$TESSEL_WINE" "$driver" properties | tr -d '\r')
sleep 2
import -window root -crop "${width}x${height}+${x}+${y}" +repage "$properties_shot"
"$TESSEL_WINE" "$driver" close
echo "$states_shot"
echo "$properties_shot"
