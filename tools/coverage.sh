#!/usr/bin/env bash
# Line coverage of src/ by the native unit tests (loadwing_tests), measured with gcov through
# gcovr in a build tree of its own (build/coverage). Not part of CI: run it by hand to see that a
# change keeps the figure.
#
# Usage: tools/coverage.sh [JOBS]    (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${1:-2}
build="$root/build/coverage"

command -v gcovr >/dev/null || {
  echo "coverage: gcovr is missing (apt-get install gcovr)" >&2
  exit 1
}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" --target loadwing_tests -j "$jobs"

# Counters of an earlier run would add to this one.
find "$build" -name '*.gcda' -delete
(cd "$build/tests" && ./loadwing_tests --gtest_brief=1)

gcovr --root "$root" --filter "$root/src/" --object-directory "$build" \
  --txt "$build/coverage.txt" --print-summary "$build"
echo "coverage: per-file figures in $build/coverage.txt"
