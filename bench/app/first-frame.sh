#!/bin/sh
# Time to first frame: the setup window against a bare Qt Quick window, each started as a whole process
# the given number of times, alternating, under one Xvfb. Prints the median and range of both: the time
# from main() to the first frame as the program saw it, and the whole run including process start-up.
#   bench/app/first-frame.sh <build-dir> [runs]      (build bench-first-frame first; release for figures)
set -eu
build=$(cd "${1:?build directory}" && pwd)
runs=${2:-15}
program="$build/bench/app/bench-first-frame"

if [ "${TARNWICK_BENCH_INSIDE:-}" != 1 ]; then
  root=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench.XXXXXX")
  trap 'rm -rf "$root"' EXIT INT TERM
  export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_CACHE_HOME="$root/cache" \
         XDG_RUNTIME_DIR="$root/runtime" TARNWICK_BENCH_INSIDE=1
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset QT_QPA_PLATFORM
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$build" "$runs"
  exit
fi

summary() { # name file
  sort -n "$2" | awk -v name="$1" '{ v[NR] = $1 } END {
    printf "%-34s median %7.1f ms   range %7.1f – %7.1f ms   (%d runs)\n", name, v[int((NR + 1) / 2)], v[1], v[NR], NR }'
}

out=$(mktemp -d)
for i in $(seq "$runs"); do
  for kind in bare setup; do
    start=$(date +%s%N)
    "$program" "$kind" >> "$out/$kind-main" 2>/dev/null
    echo "$(( ($(date +%s%N) - start) / 1000 ))" | awk '{ printf "%.1f\n", $1 / 1000 }' >> "$out/$kind-whole"
  done
done
summary "bare window, main() to first frame" "$out/bare-main"
summary "setup window, main() to first frame" "$out/setup-main"
summary "bare window, whole run" "$out/bare-whole"
summary "setup window, whole run" "$out/setup-whole"
rm -rf "$out"
