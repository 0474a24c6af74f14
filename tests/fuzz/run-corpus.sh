#!/bin/sh
# Runs every fuzz target a build has produced over its seed corpus for a few seconds each (default 5).
# Usage: run-corpus.sh BUILD_DIR [SECONDS_PER_TARGET]. New inputs go to a temporary folder; an input that
# makes a target fail is kept in BUILD_DIR/tests/fuzz/artifacts/.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run-corpus.sh BUILD_DIR [SECONDS_PER_TARGET]}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT INT TERM
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/../lsan.supp:print_suppressions=0"
artifacts="$build/tests/fuzz/artifacts"
mkdir -p "$artifacts"
ran=0
for seeds in "$here"/corpus/*/; do
  target=$(basename "$seeds")
  [ -x "$build/tests/fuzz/$target" ] || { echo "run-corpus: $target was not built, skipped" >&2; continue; }
  mkdir -p "$scratch/$target"
  echo "run-corpus: $target for ${2:-5}s"
  "$build/tests/fuzz/$target" -max_total_time="${2:-5}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "$scratch/$target" "$seeds" 2>"$scratch/$target.log" || {
      cat "$scratch/$target.log" >&2
      echo "run-corpus: $target failed; the failing input is in $artifacts" >&2
      exit 1
    }
  tail -n 3 "$scratch/$target.log"
  ran=$((ran + 1))
done
[ "$ran" -gt 0 ] || { echo "run-corpus: no fuzz target found under $build/tests/fuzz" >&2; exit 1; }
