#!/bin/sh
# Draws every screen of the setup window under Xvfb and saves the pictures to docs/screens/.
#   tests/app/take-screenshots.sh [build directory]     (default: build/debug)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$root/build/debug"}
cmake --build "$build" --target tst_app
mkdir -p "$root/docs/screens"
TARNWICK_SCREENSHOT_DIR="$root/docs/screens" \
  "$root/tests/run-isolated.sh" --keyring --display -- "$build/tests/app/tst_app" screen
echo "Saved to $root/docs/screens/"
