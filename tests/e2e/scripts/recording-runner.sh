#!/bin/sh
# Stands in for the bundle's runtime (Contents/Resources/runtime/node): records the environment it was
# started with, its argument, its working folder and what arrives on its standard input, next to itself,
# then runs like the runner until it is asked to stop.
here=$(dirname "$0")
record="$here/runner-record"
tr '\0' '\n' </proc/$$/environ >"$record.environment.part"
mv "$record.environment.part" "$record.environment"
printf '%s\n' "$@" >"$record.arguments"
pwd >"$record.folder"
cat >"$record.stdin.part"
mv "$record.stdin.part" "$record.stdin"
trap 'echo terminated >>"$record.stops"; exit 0' TERM
while :; do
  sleep 1 &
  wait $!
done
