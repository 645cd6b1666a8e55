#!/usr/bin/env bash
# Builds the whole suite with sanitizers and runs it.
#   scripts/sanitize.sh            ASan + UBSan  (build-asan/)
#   scripts/sanitize.sh thread     TSan          (build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."
KIND=${1:-address}
shift || true
scripts/setup.sh
case "$KIND" in
  address) DIR=build-asan; OPT=-DCORVANE_SANITIZE=address ;;
  thread)  DIR=build-tsan; OPT=-DCORVANE_SANITIZE=thread ;;
  *) echo "usage: $0 [address|thread] [ctest args]"; exit 2 ;;
esac
CMAKE_BUILD_TYPE=Debug scripts/build.sh "$DIR" "$OPT" -DCORVANE_BENCH=OFF -DCORVANE_WERROR=ON
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$PWD/cmake/tsan.supp"
ctest --test-dir "$DIR" --output-on-failure -j 2 "$@"
