#!/usr/bin/env bash
# Installs what is missing, builds the debug preset (sanitizers on) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset debug
cmake --build --preset debug
ctest --preset debug
