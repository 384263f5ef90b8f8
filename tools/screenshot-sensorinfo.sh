#!/usr/bin/env bash
# Runs Tessel under Xvfb with the simulator's states scenario and saves two
# screenshots: the main window with sensors that show nothing yet and why
# (docs/screenshot-states.png), and the properties dialog of the sensor that
# is denied access (docs/screenshot-properties.png). Other paths may be given.
set -euo pipefail
source "$(dirname "$0")/env.sh"
states_shot=${1:-$TESSEL_ROOT/docs/screenshot-states.png}
properties_shot=${2:-$TESSEL_ROOT/docs/screenshot-properties.png}
TESSEL_BUILD_TARGETS="Tessel TesselDriver SensorSim" "$TESSEL_ROOT/tools/build.sh"
export TESSEL_HEADLESS=1
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session

scenario=$TESSEL_BUILD_DIR/simulator/scenarios/states.ini
export TESSEL_SENSOR_SCENARIO=$(printf 'Z:%s' "$(echo "$scenario" | tr / '\\')")
driver=$TESSEL_BUILD_DIR/TesselDriver.exe
"$TESSEL_WINE" explorer /desktop=Tessel,800x520 "$TESSEL_BUILD_DIR/Tessel.exe" \
    >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
"$TESSEL_WINE" "$driver" wait
# The GPS receiver is still looking for satellites for the first 3 s.
sleep 1
import -window root -crop 800x520+0+0 +repage "$states_shot"
# The second sensor row: the location provider that is denied access.
"$TESSEL_WINE" "$driver" select 1
read -r width height x y < <("$TESSEL_WINE" "$driver" properties | tr -d '\r')
sleep 2
import -window root -crop "${width}x${height}+${x}+${y}" +repage "$properties_shot"
"$TESSEL_WINE" "$driver" close
echo "$states_shot"
echo "$properties_shot"
