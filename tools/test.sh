#!/usr/bin/env bash
# Installs what is missing, builds the debug preset (sanitizers on) and runs every test: the fuzz targets
# over their seed corpus for a few seconds each, then the CTest suite.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_callback fuzz_connection_url fuzz_credential_parser fuzz_api_decoders
tests/fuzz/run-corpus.sh build/fuzz 5

cmake --preset debug
cmake --build --preset debug
ctest --preset debug
