#!/usr/bin/env bash
# Builds Tessel and runs every test under Wine on a private X display.
# Leaves nothing running, also when a test fails.
source "$(dirname "$0")/env.sh"
"$TESSEL_ROOT/tools/build.sh"
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session
cd "$TESSEL_BUILD_DIR"
tessel_step "running the tests (each test's output is above)"
TESSEL_FAILURE_HINT=
ctest --output-on-failure "$@"
