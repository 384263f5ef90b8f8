#!/usr/bin/env bash
# Configures and builds Tessel, its tests and the sensor simulator.
# Extra arguments go to the CMake configure step; TESSEL_BUILD_TARGETS
# (space-separated) limits the build to those targets.
source "$(dirname "$0")/env.sh"

tessel_step "configuring the $TESSEL_ARCH build in $TESSEL_BUILD_DIR"
cmake -S "$TESSEL_ROOT" -B "$TESSEL_BUILD_DIR" \
    -DCMAKE_TOOLCHAIN_FILE="$TESSEL_ROOT/cmake/mingw-$TESSEL_ARCH.cmake" "$@" >/dev/null
tessel_step "building ${TESSEL_BUILD_TARGETS:-everything}"
targets=()
for t in ${TESSEL_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$TESSEL_BUILD_DIR" -j"$(nproc)" "${targets[@]}"
