#!/usr/bin/env bash
# Crashes a running Tessel under Xvfb and saves a screenshot of its problem
# report dialog to docs/screenshot-report.png (or the given path). The
# dialog is then answered "Don't Send", so nothing is uploaded.
set -euo pipefail
source "$(dirname "$0")/env.sh"
shot=${1:-$TESSEL_ROOT/docs/screenshot-report.png}
targets="Tessel TesselDriver"
[ -f "$TESSEL_ROOT/simulator/CMakeLists.txt" ] && targets="$targets SensorSim"
TESSEL_BUILD_TARGETS=$targets "$TESSEL_ROOT/tools/build.sh"
export TESSEL_HEADLESS=1
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session

driver=$TESSEL_BUILD_DIR/TesselDriver.exe
"$TESSEL_WINE" explorer /desktop=Tessel,800x520 "$TESSEL_BUILD_DIR/Tessel.exe" \
    >>"$TESSEL_LOG_DIR/wine.log" 2>&1 &
"$TESSEL_WINE" "$driver" wait
"$TESSEL_WINE" "$driver" crash
read -r width height x y < <("$TESSEL_WINE" "$driver" report | tr -d '\r')
sleep 2
import -window root -crop "${width}x${height}+${x}+${y}" +repage "$shot"
"$TESSEL_WINE" "$driver" dontsend
echo "$shot"
