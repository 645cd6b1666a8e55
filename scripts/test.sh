#!/usr/bin/env bash
# Installs what is missing, builds (warnings are errors), and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
lap=$SECONDS
took() { echo "test.sh: $1 took $((SECONDS - lap)) s"; lap=$SECONDS; }
scripts/setup.sh
took "setup"
scripts/build.sh build -DCORVANE_WERROR=ON
took "build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "${CORVANE_TEST_JOBS:-2}" "$@"
took "tests"
