#!/bin/sh
# Idle cost of TarnwickHelper supervising the shipped runner (the bundle's node and runner.js), measured
# side by side with bench-bare-tray under the same Xvfb, D-Bus session and gnome-keyring.
#   bench/helper/idle-helper.sh <build-dir> [seconds]     (build TarnwickHelper and bench-bare-tray first;
#                                                          a release build gives the figures that count)
# Prints, per program: resident memory at the end (VmRSS), CPU time used during the window, and wakeups
# per second (voluntary plus involuntary context switches of all its threads, divided by the window).
set -eu
build=$(cd "${1:?build directory}" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
tests=$(cd "$here/../../tests" && pwd)

if [ "${TARNWICK_BENCH_INSIDE:-}" != 1 ]; then
  root=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench.XXXXXX")
  trap 'rm -rf "$root"' EXIT INT TERM
  export HOME="$root/home" XDG_DATA_HOME="$root/data" XDG_CONFIG_HOME="$root/config" \
         XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" TARNWICK_BENCH_INSIDE=1
  mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset DBUS_SESSION_BUS_ADDRESS TWK_MAIN_APP_BUNDLE QT_QPA_PLATFORM
  # Not exec: the trap above removes the temporary folders afterwards.
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    dbus-run-session -- "$tests/with-keyring.sh" "$0" "$build" "$seconds"
  exit
fi

helper="$build/Tarnwick.app/Contents/Library/LoginItems/TarnwickHelper.app/Contents/MacOS/TarnwickHelper"
bare="$build/bench/helper/bench-bare-tray"
printf '%s' 'twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301.abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP' |
  secret-tool store --label='Tarnwick device credential' service com.tarnwick.mac account device-credential
mkdir -p "$XDG_DATA_HOME/Tarnwick"
cat > "$XDG_DATA_HOME/Tarnwick/config.json" <<JSON
{"allowedRoots":["$HOME"],"apiUrl":"http://127.0.0.1:9/","appVersion":"0.3.0","defaultDirectory":"$HOME","deviceId":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","providerPaths":{"codex":"/usr/bin/codex"}}
JSON

"$helper" & helper_pid=$!
"$bare" & bare_pid=$!
trap 'kill $helper_pid $bare_pid 2>/dev/null; wait' EXIT
sleep 5
runner_pid=$(pgrep -P "$helper_pid" | head -n 1)
[ -n "$runner_pid" ] || { echo "the helper did not start its runner" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
rss() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }

set -- helper "$helper_pid" runner "$runner_pid" bare-tray "$bare_pid"
start=""
while [ $# -gt 0 ]; do start="$start $1:$(cpu "$2"):$(switches "$2")"; shift 2; done
sleep "$seconds"

printf '%-10s %10s %12s %12s\n' program 'RSS (KiB)' 'CPU (ms)' 'wakeups/s'
for entry in $start; do
  name=${entry%%:*}; rest=${entry#*:}; cpu0=${rest%%:*}; sw0=${rest#*:}
  case $name in helper) pid=$helper_pid ;; runner) pid=$runner_pid ;; *) pid=$bare_pid ;; esac
  awk -v n="$name" -v r="$(rss "$pid")" -v c="$(( $(cpu "$pid") - cpu0 ))" -v t="$ticks" \
      -v w="$(( $(switches "$pid") - sw0 ))" -v s="$seconds" \
      'BEGIN { printf "%-10s %10d %12d %12.2f\n", n, r, c * 1000 / t, w / s }'
done
