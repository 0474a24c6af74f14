#!/usr/bin/env bash
# Removes what install.sh installed, and the helper's autostart entry. The user's Tarnwick data stays
# unless --purge is given.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: tools/uninstall.sh [--prefix DIR] [--purge]

Stops the running helper and removes Tarnwick installed by install.sh under DIR (default ~/.local):
every file the installation wrote (as its manifest lists them), the tarnwick: link association, and the
helper's start at login.

Options:
  --prefix DIR   the folder given to install.sh --prefix
  --purge        also remove Tarnwick's data ($XDG_DATA_HOME/Tarnwick: the configuration and status
                 files) and the device credential kept in the keyring
  -h, --help     show this help
EOF
}

fail() {
  echo "uninstall.sh: $*" >&2
  exit 1
}

repository=$(cd "$(dirname "$0")/.." && pwd)
prefix="$HOME/.local"
purge=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) [ $# -ge 2 ] || fail "--prefix needs a folder"; prefix=$2; shift ;;
    --purge) purge=1 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
[ -n "$prefix" ] || fail "--prefix needs a folder"
prefix=$(realpath -m -- "$prefix")

# shellcheck source=tools/install-paths.sh
. "$repository/tools/install-paths.sh"

# The autostart entry goes first, so nothing starts the helper again while it is being stopped.
rm -f "$autostart_entry"
if helper_pid=$(running_helper_pid); then
  stop_helper "$helper_pid" || fail "the running helper (process $helper_pid) did not stop; nothing else was removed"
fi

# Drops the desktop entry from the link associations (the tarnwick: one) of a mimeapps.list, keeping any
# other handler.
forget_scheme_handler() {
  local list=$1 temporary
  [ -f "$list" ] && grep -q "^x-scheme-handler/[^=]*=.*$desktop_id" "$list" || return 0
  temporary=$(mktemp "$list.XXXXXX")
  awk -F= -v OFS== -v entry="$desktop_id" '
    index($1, "x-scheme-handler/") == 1 && index($0, entry) > 0 {
      kept = ""
      count = split(substr($0, length($1) + 2), handlers, ";")
      for (i = 1; i <= count; i++)
        if (handlers[i] != "" && handlers[i] != entry)
          kept = kept handlers[i] ";"
      if (kept != "")
        print $1, kept
      next
    }
    { print }' "$list" >"$temporary"
  chmod --reference="$list" "$temporary"
  mv -f "$temporary" "$list"
}

if [ -f "$manifest" ]; then
  remove_listed_files "$manifest"
else
  echo "uninstall.sh: no installation under $prefix (its manifest $manifest is missing)" >&2
fi
forget_scheme_handler "$config_home/mimeapps.list"
forget_scheme_handler "$data_home/applications/mimeapps.list"
[ -d "$data_home/icons/hicolor" ] && touch "$data_home/icons/hicolor"
if command -v update-desktop-database >/dev/null && [ -d "$data_home/applications" ]; then
  update-desktop-database -q "$data_home/applications" || true
fi

if [ "$purge" -eq 1 ]; then
  rm -rf "$user_data"
  if command -v secret-tool >/dev/null; then
    secret-tool clear service com.tarnwick.mac account device-credential 2>/dev/null ||
      echo "uninstall.sh: the keyring could not be reached; the device credential may still be stored" >&2
  fi
  echo "Removed Tarnwick and its data."
else
  echo "Removed Tarnwick. Your data in $user_data was kept (--purge removes it)."
fi
