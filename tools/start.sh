#!/usr/bin/env bash
# Installs what is missing, builds the release preset, starts the local service and opens Tarnwick against it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset release
cmake --build --preset release
build=build/release
app="$build/Tarnwick.app/Contents/MacOS/Tarnwick"
service="$build/tools/tarnwick-local-service"
if [ ! -x "$app" ] || [ ! -x "$service" ]; then
  echo "Built. The setup application and the local service are not part of this checkout yet." >&2
  exit 0
fi
"$service" &
service_pid=$!
trap 'kill "$service_pid" 2>/dev/null' EXIT
"$app"
