#!/usr/bin/env bash
# Configures and builds Corvane with CMake + Ninja.
#   scripts/build.sh [build-dir] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
shift || true
JOBS=${CORVANE_JOBS:-$(nproc)}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@"
cmake --build "$BUILD_DIR" -j "$JOBS"
