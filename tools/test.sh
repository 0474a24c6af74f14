#!/usr/bin/env bash
# Installs what is missing, builds the debug preset (sanitizers on, benchmarks included so they keep
# building) and runs every test: the fuzz targets over their seed corpus for a few seconds each, then the
# QML lint, then the CTest suite.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

# Every C++ file in the house style (.clang-format).
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_targets
tests/fuzz/run-corpus.sh build/fuzz 5

cmake --preset debug -DTARNWICK_BENCHMARKS=ON
cmake --build --preset debug
# The window's QML modules: any qmllint warning fails the run.
cmake --build --preset debug --target all_qmllint
ctest --preset debug
