#!/bin/sh
# Stands in for the bundle's runtime: records its environment, argument, working folder and standard input
# next to itself, then runs like the runner until it is asked to stop.
record="$(dirname "$0")/runner-record"
tr '\0' '\n' </proc/$$/environ >"$record.environment"
printf '%s\n' "$@" >"$record.arguments"
pwd >"$record.folder"
cat >"$record.stdin.part" && mv "$record.stdin.part" "$record.stdin"
trap 'echo terminated >>"$record.stops"; exit 0' TERM
while :; do sleep 1 & wait $!; done
