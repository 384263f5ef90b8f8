#!/usr/bin/env bash
# Builds Tessel and runs it with simulated sensors.
# With $DISPLAY set, Tessel opens there and the script waits for it to end.
# Without one, it runs headless in a Wine virtual desktop under Xvfb, saves
# a screenshot, closes Tessel and prints the screenshot's path.
source "$(dirname "$0")/env.sh"
targets="Tessel TesselDriver"
[ -f "$TESSEL_ROOT/simulator/CMakeLists.txt" ] && targets="$targets SensorSim"
TESSEL_BUILD_TARGETS=$targets "$TESSEL_ROOT/tools/build.sh"

headless=1
[ -n "${DISPLAY:-}" ] && headless=0
export TESSEL_HEADLESS=$headless
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session

tessel_step "running Tessel"
exe=$TESSEL_BUILD_DIR/Tessel.exe
driver=$TESSEL_BUILD_DIR/TesselDriver.exe
if [ "$headless" = 0 ]; then
    "$TESSEL_WINE" "$exe"
    exit 0
fi

shot_dir=$TESSEL_BUILD_DIR/screenshots
mkdir -p "$shot_dir"
shot=$shot_dir/tessel.png
"$TESSEL_WINE" explorer /desktop=Tessel,800x520 "$exe" >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
"$TESSEL_WINE" "$driver" wait
sleep 2
import -window root -crop 800x520+0+0 +repage "$shot"
"$TESSEL_WINE" "$driver" close
# The virtual desktop itself ends with the session's wineserver.
echo "$shot"
