#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one on its corpus.
#   scripts/fuzz.sh [seconds-per-target] [target...]
# Defaults: 60 seconds, every fuzz_* target. Each target starts from its saved corpus
# (tests/fuzz/corpus/<name without fuzz_>); inputs found on the way go to fuzz-build/corpus/<target>
# so the saved corpus stays small, crashes to fuzz-build/crashes/. Extra libFuzzer flags: FUZZ_ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
shift || true
BUILD_DIR=fuzz-build
JOBS=${CORVANE_JOBS:-$(nproc)}

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCORVANE_TESTS=ON -DCORVANE_BENCH=OFF -DCORVANE_WERROR=ON

if [ $# -gt 0 ]; then
  TARGETS=("$@")
else
  mapfile -t TARGETS < <(cmake --build "$BUILD_DIR" --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\):.*/\1/p' \
                         | grep -v '_replay$' | grep -v '_autogen' | sort -u)
fi
if [ ${#TARGETS[@]} -eq 0 ]; then
  echo "fuzz: no fuzz_* targets"; exit 1
fi
cmake --build "$BUILD_DIR" -j "$JOBS" --target "${TARGETS[@]}"

mkdir -p "$BUILD_DIR/crashes"
status=0
for t in "${TARGETS[@]}"; do
  bin=$(find "$BUILD_DIR" -type f -name "$t" -perm -u+x | head -n 1)
  corpus=tests/fuzz/corpus/${t#fuzz_}
  work=$BUILD_DIR/corpus/$t
  mkdir -p "$corpus" "$work"
  echo "fuzz: $t for ${SECONDS_PER_TARGET}s on $corpus"
  "$bin" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
    -artifact_prefix="$BUILD_DIR/crashes/$t-" ${FUZZ_ARGS:-} "$work" "$corpus" || status=1
done
exit $status
