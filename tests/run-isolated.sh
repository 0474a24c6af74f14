#!/bin/sh
# Runs one test program with its own HOME and XDG folders, never the developer's.
#   --bus      inside a private D-Bus session
#   --keyring  inside a private D-Bus session with its own unlocked gnome-keyring
#   --display  under Xvfb (otherwise Qt draws offscreen)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bus=0 keyring=0 display=0
while [ $# -gt 0 ]; do
  case "$1" in
    --bus) bus=1 ;;
    --keyring) keyring=1 ;;
    --display) display=1 ;;
    --) shift; break ;;
    *) break ;;
  esac
  shift
done

root=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-test.XXXXXX")
trap 'rm -rf "$root"' EXIT INT TERM
export HOME="$root/home" XDG_DATA_HOME="$root/data" XDG_CONFIG_HOME="$root/config" \
       XDG_CACHE_HOME="$root/cache" XDG_STATE_HOME="$root/state" XDG_RUNTIME_DIR="$root/runtime"
mkdir -m 700 "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS BROWSER TWK_MAIN_APP_BUNDLE
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"

if [ "$keyring" -eq 1 ]; then
  set -- dbus-run-session -- "$here/with-keyring.sh" "$@"
elif [ "$bus" -eq 1 ]; then
  set -- dbus-run-session -- "$@"
fi
if [ "$display" -eq 1 ]; then
  unset QT_QPA_PLATFORM
  set -- xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"
else
  export QT_QPA_PLATFORM=offscreen
fi
"$@"
