# Sourced by the screenshot scripts: builds what they run, starts a headless
# session on an X screen of the given size (room for a 200 % desktop) and
# puts the prefix back to 96 dpi when the script ends. Sets folder (the
# script's first argument, or docs/) and driver.
# Usage: source screenshot-session.sh SCREEN [FOLDER]
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
folder=${2:-$TESSEL_ROOT/docs}
targets="Tessel TesselDriver"
[ -f "$TESSEL_ROOT/simulator/CMakeLists.txt" ] && targets="$targets SensorSim"
TESSEL_BUILD_TARGETS=$targets "$TESSEL_ROOT/tools/build.sh"
export TESSEL_HEADLESS=1
export TESSEL_XVFB_SCREEN=$1
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session

trap 'tessel_set_dpi 96; tessel_end_session' EXIT

driver=$TESSEL_BUILD_DIR/TesselDriver.exe
mkdir -p "$folder"
