#!/bin/sh
# Configures and builds into ${BUILD_DIR:-build} (extra arguments go to cmake).
# BUILD_TARGETS names the targets to build (default: all; "sim-unit" is what
# ./scripts/run-sim.sh runs). ccache is used when it is installed; worktrees of
# one clone share its cache.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
LAUNCHER=""
if command -v ccache >/dev/null 2>&1; then
    LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    # The tests' precompiled header is cached only with these sloppiness options.
    export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=true \
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" $LAUNCHER "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
