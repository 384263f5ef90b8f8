#!/usr/bin/env bash
# Configures and builds Tessel, its tests and the sensor simulator.
# Extra arguments go to the CMake configure step; TESSEL_BUILD_TARGETS
# (space-separated) limits the build to those targets.
source "$(dirname "$0")/env.sh"

# A compiler cache keeps rebuilds of a fresh clone or another work tree of
# the same sources short. Paths below the work folder's parent are made
# relative, and the folder itself is left out of the hash: the build maps
# both folders out of the debug information, so every clone shares the cache.
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$TESSEL_ROOT")}
    export CCACHE_NOHASHDIR=1 CCACHE_IGNOREOPTIONS="-ffile-prefix-map=*"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
tessel_step "configuring the $TESSEL_ARCH build in $TESSEL_BUILD_DIR"
cmake -S "$TESSEL_ROOT" -B "$TESSEL_BUILD_DIR" "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$TESSEL_ROOT/cmake/mingw-$TESSEL_ARCH.cmake" "$@" >/dev/null
tessel_step "building ${TESSEL_BUILD_TARGETS:-everything}"
targets=()
for t in ${TESSEL_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$TESSEL_BUILD_DIR" -j"$(nproc)" "${targets[@]}"
