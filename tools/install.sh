#!/usr/bin/env bash
# Installs Tarnwick for the current user, without root: the application bundle, a `tarnwick` command, the
# desktop entry that opens tarnwick: links (made their default handler) and the icon.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: tools/install.sh [--prefix DIR] [--no-build | --bundle DIR]

Builds the release preset and installs Tarnwick for you alone:
  DIR/lib/tarnwick/Tarnwick.app       the application bundle (an older copy is replaced)
  DIR/bin/tarnwick                    the command that opens the setup window
  $XDG_DATA_HOME/applications/tarnwick.desktop
                                      the desktop entry, default handler of tarnwick: links
  $XDG_DATA_HOME/icons/hicolor/…      the icon
DIR defaults to ~/.local and $XDG_DATA_HOME to ~/.local/share. A helper running from the installed
copy is stopped first and started again from the new one.

Options:
  --prefix DIR   install under DIR instead of ~/.local
  --no-build     install build/release/Tarnwick.app as it is, without building
  --bundle DIR   install the already built bundle DIR (a Tarnwick.app), without building
  -h, --help     show this help
EOF
}

fail() {
  echo "install.sh: $*" >&2
  exit 1
}

# Standard input to TARGET with MODE, put in place by one rename.
write_file() {
  local target=$1 mode=$2 temporary
  mkdir -p "$(dirname "$target")"
  temporary=$(mktemp "$target.XXXXXX")
  cat >"$temporary"
  chmod "$mode" "$temporary"
  mv -f "$temporary" "$target"
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

if [ "$build" -eq 1 ]; then
  command -v cmake >/dev/null || fail "cmake is missing; run tools/install-deps.sh first"
  (cd "$repository" && cmake --preset release && cmake --build --preset release)
fi

[ -d "$bundle" ] || fail "there is no built bundle at $bundle"
bundle=$(realpath -e -- "$bundle")
for part in "$app_in_bundle" "$helper_in_bundle" Contents/Resources/runtime/node; do
  [ -x "$bundle/$part" ] || fail "$bundle is incomplete: $part is missing or not executable"
done
for part in Contents/Resources/runner/runner.js Contents/Resources/LogoMark.png; do
  [ -f "$bundle/$part" ] || fail "$bundle is incomplete: $part is missing"
done
[ "$bundle" != "$installed_bundle" ] || fail "$bundle is already the installed copy"
entry_template="$repository/packaging/app/tarnwick.desktop.in"
[ -f "$entry_template" ] || fail "the desktop entry template $entry_template is missing"

staging=""
retired="$install_root/.Tarnwick.app.old.$$"
restart_helper=0
finish() {
  [ -z "$staging" ] || rm -rf "$staging"
  [ ! -e "$installed_bundle" ] || rm -rf "$retired"
  # Whether the new copy went in or the old one was kept, a helper stopped below runs again.
  if [ "$restart_helper" -eq 1 ] && [ -x "$installed_bundle/$helper_in_bundle" ]; then
    setsid -f "$installed_bundle/$helper_in_bundle" </dev/null >/dev/null 2>&1
  fi
}
trap finish EXIT

# A helper running from the copy about to be replaced is stopped first and started again from the new one,
# so it never runs out of a deleted bundle.
if helper_pid=$(running_helper_pid) && helper_runs_from_installed_bundle "$helper_pid"; then
  stop_helper "$helper_pid" || fail "the running helper (process $helper_pid) did not stop; nothing was changed"
  restart_helper=1
fi

# The new copy is made beside the old one and swapped in by renaming, so a failed copy leaves the old
# installation as it was.
mkdir -p "$install_root"
rm -rf "$install_root"/.Tarnwick.app.new.* "$install_root"/.Tarnwick.app.old.*
staging=$(mktemp -d "$install_root/.Tarnwick.app.new.XXXXXX")
cp -a "$bundle/." "$staging/"
chmod 755 "$staging"
if [ -e "$installed_bundle" ] || [ -L "$installed_bundle" ]; then
  mv -T "$installed_bundle" "$retired"
fi
if ! mv -T "$staging" "$installed_bundle"; then
  [ -e "$retired" ] && mv -T "$retired" "$installed_bundle"
  fail "could not put the new bundle in place; the old one was kept"
fi
rm -rf "$retired"

write_file "$launcher" 755 <<EOF
#!/bin/sh
$launcher_marker
exec $(shell_quoted "$installed_bundle/$app_in_bundle") "\$@"
EOF

app_path="$installed_bundle/$app_in_bundle"
sed -e "s|@TARNWICK_APP_EXEC@|$(sed_replacement "$(desktop_entry_quoted "$app_path")")|g" \
    -e "s|@TARNWICK_APP_TRYEXEC@|$(sed_replacement "${app_path//\\/\\\\}")|g" \
  "$entry_template" | write_file "$desktop_entry" 644

# Every desktop draws the scalable icon; a 256-pixel rendering is added where an SVG renderer is at hand.
write_file "$icon_scalable" 644 <"$repository/packaging/LogoMark.svg"
if command -v rsvg-convert >/dev/null; then
  rsvg-convert --width 256 --height 256 "$repository/packaging/LogoMark.svg" | write_file "$icon_256" 644
fi
touch "$icon_theme"

if command -v update-desktop-database >/dev/null; then
  update-desktop-database -q "$applications_dir" || true
fi
if ! command -v xdg-mime >/dev/null; then
  echo "install.sh: xdg-mime is missing (Debian package xdg-utils): tarnwick: links may not reach Tarnwick" >&2
elif ! xdg-mime default tarnwick.desktop x-scheme-handler/tarnwick; then
  echo "install.sh: tarnwick: links could not be given to Tarnwick (xdg-mime default failed)" >&2
fi

echo "Installed Tarnwick in $installed_bundle."
case ":$PATH:" in
  *":$prefix/bin:"*) echo "Start it with: tarnwick" ;;
  *) echo "Start it with: $launcher" ;;
esac
