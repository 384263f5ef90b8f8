#!/usr/bin/env bash
# Configures and builds Tessel, its tests and the sensor simulator.
# Extra arguments go to the CMake configure step.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$TESSEL_ROOT/tools/setup.sh"

cmake -S "$TESSEL_ROOT" -B "$TESSEL_BUILD_DIR" \
    -DCMAKE_TOOLCHAIN_FILE="$TESSEL_ROOT/cmake/mingw-$TESSEL_ARCH.cmake" "$@" >/dev/null
cmake --build "$TESSEL_BUILD_DIR" -j"$(nproc)"
