#!/usr/bin/env bash
# Builds Tessel and runs every test under Wine on a private X display.
# Leaves nothing running, also when a test fails.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$TESSEL_ROOT/tools/build.sh"
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session
cd "$TESSEL_BUILD_DIR"
ctest --output-on-failure "$@"
