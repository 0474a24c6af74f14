#!/bin/sh
# Every benchmark of the two programs, each figure beside its floor (a bare Qt program doing the least
# the same job needs) measured in the same run, and the ratio.
#   bench/run.sh <build-dir> [runs] [idle-seconds]      (defaults: 11 runs, 60 s of idle)
# TARNWICK_BENCH_ONLY=window or =helper runs one half (everything by default).
# Build without sanitizers first: cmake --preset release -DTARNWICK_BENCHMARKS=ON && cmake --build --preset release.
# Needs xvfb-run, dbus-run-session, gnome-keyring, secret-tool and strace.
#
# - Setup window, time to first frame: bench-first-frame (the real WindowLoader and QML over an AppModel
#   whose stores are in memory) against a bare Qt Quick Window of the same width, each started as a whole
#   process `runs` times, alternating; medians of the time from main() to the first swapped frame, and of
#   the whole run including loading the libraries.
# - Setup window, memory: the real Tarnwick program as a new user first meets it (no pairing; $BROWSER
#   stands in for the browser it opens) against the bare window kept open; VmRSS 6 s after the start,
#   median of 3.
# - Helper, idle: TarnwickHelper supervising the shipped runner against bench-bare-tray (a tray icon with
#   a one-item menu); after 5 s of settling, over `idle-seconds`: VmRSS, CPU time, context switches of
#   all its threads per heartbeat (every 15 s), and the fsync calls of its threads (strace).
set -eu
build=$(cd "${1:?build directory}" && pwd)
runs=${2:-11}
seconds=${3:-60}
only=${TARNWICK_BENCH_ONLY:-}
case "$only" in ''|window|helper) ;; *) echo "TARNWICK_BENCH_ONLY is window or helper" >&2; exit 2 ;; esac
here=$(cd "$(dirname "$0")" && pwd)
tests=$(cd "$here/../tests" && pwd)

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
    dbus-run-session -- "$tests/with-keyring.sh" "$0" "$build" "$runs" "$seconds"
  exit
fi

frame="$build/bench/app/bench-first-frame"
# shellcheck source=tools/build-settings.sh.in
. "$build/build-settings.sh"
app="$build/Tarnwick.app/$app_in_bundle"
helper="$build/Tarnwick.app/$helper_in_bundle"
tray="$build/bench/helper/bench-bare-tray"
out=$(mktemp -d)
pids=""
trap 'for p in $pids; do kill "$p" 2>/dev/null || true; done; wait; rm -rf "$out"' EXIT

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
rss_mb() { awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
row() { # what value floor unit goal
  awk -v w="$1" -v v="$2" -v f="$3" -v u="$4" -v g="$5" 'BEGIN {
    printf "%-46s %9.1f %-3s %9.1f %-3s %6.2fx  (goal <= %sx)\n", w, v, u, f, u, (f > 0 ? v / f : 0), g }'
}

with_window() { [ "$only" != helper ]; }
with_helper() { [ "$only" != window ]; }

# The setup window draws with Qt Quick's software renderer; "soft" is the bare window drawn the same way,
# shown for reference beside the floor (the bare window as Qt draws it by default).
first_frame() { # setup|bare|soft
  case "$1" in
    soft) QT_QUICK_BACKEND=software "$frame" bare ;;
    *) "$frame" "$1" ;;
  esac
}

# Setup window: time to first frame.
with_window && for i in $(seq "$runs"); do
  for kind in bare setup soft; do
    start=$(date +%s%N)
    first_frame "$kind" >> "$out/$kind-main" 2>/dev/null
    echo "$(( ($(date +%s%N) - start) / 1000 ))" | awk '{ printf "%.1f\n", $1 / 1000 }' >> "$out/$kind-whole"
  done
done

# Setup window: memory, the real program against the bare window.
with_window && for i in 1 2 3; do
  "$frame" bare stay > /dev/null 2>&1 & bare=$!
  QT_QUICK_BACKEND=software "$frame" bare stay > /dev/null 2>&1 & soft=$!
  BROWSER=true "$app" > /dev/null 2>&1 & setup=$!
  pids="$bare $soft $setup"
  sleep 6
  for kind_pid in "bare $bare" "soft $soft" "setup $setup"; do
    set -- $kind_pid
    rss_mb "$2" >> "$out/$1-rss"; echo >> "$out/$1-rss"
  done
  kill $pids; wait $pids 2>/dev/null || true
  pids=""
done

# Helper, idle: a finished setup, then the helper under strace (only fsync calls stop it) beside the tray.
if with_helper; then
  printf '%s' 'twk_device_3F2504E0-4F89-41D3-9A0C-0305E82C3301.abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJKLMNOP' |
    secret-tool store --label='Tarnwick device credential' service com.tarnwick.mac account device-credential
  mkdir -p "$XDG_DATA_HOME/Tarnwick"
  cat > "$XDG_DATA_HOME/Tarnwick/config.json" <<JSON
{"allowedRoots":["$HOME"],"apiUrl":"http://127.0.0.1:9/","appVersion":"0.3.0","defaultDirectory":"$HOME","deviceId":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","providerPaths":{"codex":"/usr/bin/codex"}}
JSON
  strace -f --seccomp-bpf -e trace=fsync,fdatasync,syncfs,sync -ttt -o "$out/flushes" "$helper" & traced=$!
  "$tray" & bare=$!
  pids="$traced $bare"
  sleep 5
  helper_pid=$(pgrep -P "$traced" -x TarnwickHelper | head -n 1)
  [ -n "$helper_pid" ] || { echo "the helper did not start" >&2; exit 1; }
  pids="$helper_pid $pids"
  cpu0=$(cpu_ticks "$helper_pid"); sw0=$(switches "$helper_pid"); bare_cpu0=$(cpu_ticks "$bare")
  from=$(date +%s.%N)
  sleep "$seconds"
  to=$(date +%s.%N)
  cpu=$(( $(cpu_ticks "$helper_pid") - cpu0 )); sw=$(( $(switches "$helper_pid") - sw0 ))
  bare_cpu=$(( $(cpu_ticks "$bare") - bare_cpu0 ))
  helper_rss=$(rss_mb "$helper_pid"); bare_rss=$(rss_mb "$bare")
  # TARNWICK_BENCH_SMAPS=<folder> keeps both programs' memory maps of this moment, for a breakdown.
  if [ -n "${TARNWICK_BENCH_SMAPS:-}" ]; then
    cp "/proc/$helper_pid/smaps" "$TARNWICK_BENCH_SMAPS/helper.smaps"; cp "/proc/$bare/smaps" "$TARNWICK_BENCH_SMAPS/bare.smaps"
  fi
  threads=$(ls "/proc/$helper_pid/task" | tr '\n' ' ')
  flushes=$(awk -v from="$from" -v to="$to" -v threads=" $threads" \
    'index(threads, " " $1 " ") && $2 >= from && $2 <= to && $3 ~ /^(fsync|fdatasync|syncfs|sync)\(/ { n++ }
     END { print n + 0 }' "$out/flushes")
  heartbeats=$(( seconds / 15 ))
  ticks=$(getconf CLK_TCK)
fi

date -u '+%Y-%m-%d %H:%M UTC'; echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) CPUs"
printf '%-46s %13s %13s %7s\n' '' Tarnwick floor ratio
if with_window; then
  row "setup window, main() to first frame (median of $runs)" "$(median "$out/setup-main")" "$(median "$out/bare-main")" ms 1.2
  row "setup window, whole run to first frame" "$(median "$out/setup-whole")" "$(median "$out/bare-whole")" ms 1.2
  row "setup window, resident memory 6 s after start" "$(median "$out/setup-rss")" "$(median "$out/bare-rss")" MB 1.2
  awk -v m="$(median "$out/setup-main")" -v fm="$(median "$out/soft-main")" \
      -v r="$(median "$out/setup-rss")" -v fr="$(median "$out/soft-rss")" 'BEGIN {
    printf "for reference, a bare window also drawn in software: %.1f ms to first frame (%.2fx), %.1f MB (%.2fx)\n",
      fm, m / fm, fr, r / fr }'
fi
with_helper || exit 0
row "helper idle, resident memory" "$helper_rss" "$bare_rss" MB 1.12
awk -v c="$cpu" -v b="$bare_cpu" -v t="$ticks" -v s="$seconds" -v w="$sw" -v h="$heartbeats" -v f="$flushes" 'BEGIN {
  printf "helper idle, CPU in %d s: %d ms (bare tray %d ms)\n", s, c * 1000 / t, b * 1000 / t
  printf "helper idle, context switches per heartbeat: %.1f (goal <= 10)\n", w / h
  printf "helper idle, fsync calls in %d s: %d, %.1f per heartbeat (goal 0)\n", s, f, f / h }'
