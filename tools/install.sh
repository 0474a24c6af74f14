#!/usr/bin/env bash
# Installs Tarnwick for the current user, without root, through the project's install rules, and makes it
# the handler of tarnwick: links.
set -euo pipefail

usage() {
  cat <<'EOF_USAGE'
Usage: tools/install.sh [--prefix DIR] [--no-build | --bundle DIR]

Builds the release preset and installs Tarnwick for you alone (cmake --install --prefix DIR):
  DIR/lib/tarnwick/Tarnwick.app       the application bundle
  DIR/bin/tarnwick                    the command that opens the setup window
  DIR/share/…                         the desktop entry (default handler of tarnwick: links), the
                                      icons, the software centre's description and the manual page
DIR defaults to ~/.local. When DIR/share is not $XDG_DATA_HOME (~/.local/share), the desktop entry and
the icons are put there too, where the desktop finds them. Files an earlier installation wrote and this
one does not are removed. A helper running from the installed copy is stopped first and started again
from the new one.

Options:
  --prefix DIR   install under DIR instead of ~/.local
  --no-build     install build/release as it is, without building
  --bundle DIR   install from the build tree holding the built bundle DIR (a Tarnwick.app), without
                 building
  -h, --help     show this help
EOF_USAGE
}

fail() {
  echo "install.sh: $*" >&2
  exit 1
}

repository=$(cd "$(dirname "$0")/.." && pwd)
prefix="$HOME/.local"
build=1
bundle="$repository/build/release/Tarnwick.app"
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) [ $# -ge 2 ] || fail "--prefix needs a folder"; prefix=$2; shift ;;
    --no-build) build=0 ;;
    --bundle) [ $# -ge 2 ] || fail "--bundle needs a folder"; bundle=$2; build=0; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
[ -n "$prefix" ] || fail "--prefix needs a folder"
prefix=$(realpath -m -- "$prefix")
[[ "$prefix" != *$'\n'* ]] || fail "a folder with a line break in its name cannot go into a desktop entry"

# shellcheck source=tools/install-paths.sh
. "$repository/tools/install-paths.sh"

command -v cmake >/dev/null || fail "cmake is missing; run tools/install-deps.sh first"
if [ "$build" -eq 1 ]; then
  (cd "$repository" && cmake --preset release && cmake --build --preset release)
fi

[ -d "$bundle" ] || fail "there is no built bundle at $bundle"
bundle=$(realpath -e -- "$bundle")
build_tree=$(dirname -- "$bundle")
if [ ! -f "$build_tree/cmake_install.cmake" ] || [ ! -f "$build_tree/build-settings.sh" ]; then
  fail "$bundle is not in a build tree (no cmake_install.cmake and build-settings.sh beside it)"
fi
# shellcheck source=tools/build-settings.sh.in
. "$build_tree/build-settings.sh"
for part in "$app_in_bundle" "$helper_in_bundle" "$(dirname "$helper_in_bundle")/TarnwickCredentialReader" \
            Contents/Resources/runtime/node; do
  [ -x "$bundle/$part" ] || fail "$bundle is incomplete: $part is missing or not executable"
done
[ -f "$bundle/Contents/Resources/runner/runner.js" ] || fail "$bundle is incomplete: the runner is missing"
[ "$bundle" != "$installed_bundle" ] || fail "$bundle is already the installed copy"

restart_helper=0
new_manifest=""
finish() {
  [ -z "$new_manifest" ] || rm -f "$new_manifest"
  # Whether the new copy went in or not, a helper stopped below runs again.
  if [ "$restart_helper" -eq 1 ] && [ -x "$installed_bundle/$helper_in_bundle" ]; then
    setsid -f "$installed_bundle/$helper_in_bundle" </dev/null >/dev/null 2>&1
  fi
}
trap finish EXIT

# A helper running from the copy about to be replaced is stopped first and started again from the new one.
if helper_pid=$(running_helper_pid) && helper_runs_from_installed_bundle "$helper_pid"; then
  stop_helper "$helper_pid" || fail "the running helper (process $helper_pid) did not stop; nothing was changed"
  restart_helper=1
fi

cmake --install "$build_tree" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
new_manifest=$(mktemp)
# CMake's manifest ends without a line feed; grep gives every line one.
grep '' "$build_tree/install_manifest.txt" >"$new_manifest"

# The desktop reads entries and icons from $XDG_DATA_HOME and the system's folders only.
if [ "$(realpath -m -- "$prefix/share")" != "$(realpath -m -- "$data_home")" ]; then
  while IFS= read -r file; do
    case "$file" in
      "$prefix/share/applications/"* | "$prefix/share/icons/"*) ;;
      *) continue ;;
    esac
    copy="$data_home/${file#"$prefix/share/"}"
    mkdir -p -- "$(dirname -- "$copy")"
    cp -f -- "$file" "$copy"
    printf '%s\n' "$copy"
  done <"$new_manifest" >"$new_manifest.shared"
  cat "$new_manifest.shared" >>"$new_manifest"
  rm -f "$new_manifest.shared"
fi

# What an earlier installation wrote and this one did not goes.
if [ -f "$manifest" ]; then
  remove_listed_files "$manifest" "$new_manifest"
fi
printf '%s\n' "$manifest" >>"$new_manifest"
mkdir -p "$install_root"
mv -f "$new_manifest" "$manifest"
chmod 644 "$manifest"

touch "$data_home/icons/hicolor" 2>/dev/null || true
if command -v update-desktop-database >/dev/null; then
  update-desktop-database -q "$data_home/applications" || true
fi
if ! command -v xdg-mime >/dev/null; then
  echo "install.sh: xdg-mime is missing (Debian package xdg-utils): $url_scheme: links may not reach Tarnwick" >&2
elif ! xdg-mime default "$desktop_id" "x-scheme-handler/$url_scheme"; then
  echo "install.sh: $url_scheme: links could not be given to Tarnwick (xdg-mime default failed)" >&2
fi

echo "Installed Tarnwick in $installed_bundle."
case ":$PATH:" in
  *":$prefix/bin:"*) echo "Start it with: tarnwick" ;;
  *) echo "Start it with: $prefix/bin/tarnwick" ;;
esac
