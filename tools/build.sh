#!/usr/bin/env bash
# Configures and builds Tessel, its tests and the sensor simulator.
# Extra arguments go to the CMake configure step; TESSEL_BUILD_TARGETS
# (space-separated) limits the build to those targets.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$TESSEL_ROOT/tools/setup.sh"

cmake -S "$TESSEL_ROOT" -B "$TESSEL_BUILD_DIR" \
    -DCMAKE_TOOLCHAIN_FILE="$TESSEL_ROOT/cmake/mingw-$TESSEL_ARCH.cmake" "$@" >/dev/null
targets=()
for t in ${TESSEL_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$TESSEL_BUILD_DIR" -j"$(nproc)" "${targets[@]}"
