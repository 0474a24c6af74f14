#!/bin/sh
# Inside a private D-Bus session: start a gnome-keyring for this session alone, unlocked, then run the test.
set -eu
printf 'tarnwick-test' | gnome-keyring-daemon --unlock --components=secrets >/dev/null
# The daemon forks; wait until it owns the Secret Service name so the bus never activates a second one.
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true' && exec "$@"
  sleep 0.05
done
echo "gnome-keyring-daemon did not come up" >&2
exit 1
