#!/usr/bin/env bash
# Installs what is missing, builds the release preset, starts the local service (or keeps the one already
# running) and opens Tarnwick against it. Safe to run again at any time.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset release
cmake --build --preset release
build=build/release
# shellcheck source=tools/build-settings.sh.in
. "$build/build-settings.sh"
app="$build/Tarnwick.app/$app_in_bundle"
service="$build/tools/tarnwick-local-service"

# The programs talk to the base URL built into them ($base_url); the local service stands in for it when
# that is a loopback address.
port=""
if [[ "$base_url" =~ ^http://(127\.0\.0\.1|localhost):([0-9]+)(/|$) ]]; then
  port=${BASH_REMATCH[2]}
fi

listening() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

if [ -n "$port" ] && ! listening "$port"; then
  # Detached, so it keeps serving the helper after this script and the window have ended.
  log="$build/tools/local-service.log"
  setsid "$service" --port "$port" </dev/null >"$log" 2>&1 &
  service_pid=$!
  disown
  tries=0
  until listening "$port"; do
    tries=$((tries + 1))
    if [ "$tries" -ge 100 ] || ! kill -0 "$service_pid" 2>/dev/null; then
      echo "The local service did not start; see $log." >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "The local service listens on $base_url (stop it with: kill $service_pid)."
elif [ -n "$port" ]; then
  echo "The local service already listens on $base_url."
fi

# A second start only brings the running window to the front.
exec "$app"
