#!/usr/bin/env bash
# Builds Tessel and runs every test under Wine on a private X display.
# Leaves nothing running, also when a test fails.
source "$(dirname "$0")/env.sh"
# The test build's Tessel.exe reports crashes to the tests' own report
# server on the loopback interface, on a port of this build folder's own.
report_port=$((20000 + $(printf %s "$TESSEL_BUILD_DIR" | cksum | cut -d' ' -f1) % 20000))
tessel_step "building (the build's own output is above)"
"$TESSEL_ROOT/tools/build.sh" -DTESSEL_REPORT_HOST="127.0.0.1:$report_port"
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session
cd "$TESSEL_BUILD_DIR"
tessel_step "running the tests (each test's output is above)"
TESSEL_FAILURE_HINT=
ctest --output-on-failure "$@"
