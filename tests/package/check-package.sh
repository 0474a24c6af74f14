#!/usr/bin/env bash
# Checks a built Tarnwick package with the Debian tools: its fields, its files against what the programs
# need, the programs run from an unpacked copy, and the desktop entry, metainfo, manual page and lintian.
# Usage: check-package.sh PACKAGE.deb SOURCE_DIR VERSION BUILD
set -uo pipefail

deb=$1 source=$2 version=$3 build=$4
passed=0 failed=0
check() {
  local name=$1 output
  shift
  if output=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "ok - $name"
  else
    failed=$((failed + 1))
    echo "not ok - $name"
    printf '%s\n' "$output" | sed 's/^/    /'
  fi
}

[ -f "$deb" ] || { echo "no package at $deb"; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
bundle=usr/lib/tarnwick/Tarnwick.app
app=$bundle/Contents/MacOS/Tarnwick
helper=$bundle/Contents/Library/LoginItems/TarnwickHelper.app/Contents/MacOS/TarnwickHelper
reader=$(dirname "$helper")/TarnwickCredentialReader
field() { dpkg-deb -f "$deb" "$1"; }
same() { [ "$1" = "$2" ] || { echo "got: $1"; return 1; }; }
# Whether a relation field names the package, alone or as an alternative, whatever the version.
relation_has() {
  [ -n "$2" ] && field "$1" | tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/:any//; s/[[:space:]]//g' | grep -qxF "$2" ||
    { echo "$1 lacks ${2:-the package of $3}: $(field "$1")"; return 1; }
}

fields_are_right() {
  same "$(field Package) $(field Version) $(field Architecture) $(basename "$deb")" \
    "tarnwick $version-$build amd64 tarnwick_${version}-${build}_amd64.deb"
}
recommends_keyring_wayland_and_xdg_utils() {
  for package in gnome-keyring libkf5wallet-bin keepassxc qt6-wayland xdg-utils; do
    relation_has Recommends "$package" || return 1
  done
}
# Every file the programs use is in the package (the programs, links, icons, desktop entry, metainfo and manual
# page in the checks that use them), and nothing lies outside /usr.
has_the_files_the_programs_use() {
  local missing=0 outside
  for file in "$bundle"/Contents/Resources/{runner/runner.js,LogoMark.png} \
    usr/share/icons/hicolor/scalable/apps/com.tarnwick.Tarnwick.svg usr/share/doc/tarnwick/{copyright,changelog.Debian.gz}; do
    [ -e "$root/$file" ] || { echo "missing: /$file"; missing=1; }
  done
  [ -x "$root/$reader" ] || { echo "the credential reader is not executable"; missing=1; }
  outside=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
  [ -z "$outside" ] || { echo "outside /usr: $outside"; missing=1; }
  return $missing
}
icons_are_there_in_their_sizes() {
  for size in 16 22 24 32 48 64 128 256 512; do
    file "$root/usr/share/icons/hicolor/${size}x${size}/apps/com.tarnwick.Tarnwick.png" | grep -q "$size x $size" ||
      { echo "the ${size}x${size} icon is missing or has another size"; return 1; }
  done
}
# Resolved as installed, at their place under /.
links_point_where_the_programs_expect() {
  local launcher node
  launcher=$(cd "$root/usr/bin" && realpath -m -- "$(readlink tarnwick)")
  node=$(cd "$root/$bundle/Contents/Resources/runtime" && realpath -m -- "$(readlink node)")
  same "${launcher#"$root"}" "/$app" && same "${node#"$root"}" /usr/bin/node
}
# The package that owns a file, whichever of its names (through links, with /usr merged or not) dpkg knows.
owner_of() {
  local real
  real=$(realpath -- "$1")
  for name in "$1" "$real" "${real#/usr}"; do
    dpkg -S "$name" 2>/dev/null | cut -d: -f1 && return 0
  done
}
# The files the programs load: the libraries they link (which shlibdeps sees; a name not in the linker's cache
# stays a bare name, which no package owns) and the qmldir of every QML module the window imports at run time
# (which it cannot see). The window's own two modules are built in, and QtQml is part of libQt6Qml.
loaded_files() {
  local library qml
  for library in $(readelf -d "$root/$app" "$root/$helper" "$root/$reader" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
                   sort -u); do
    ldconfig -p |
      awk -v lib="$library" '$1 == lib && /x86-64/ { print $NF; found = 1; exit } END { if (!found) print lib }'
  done
  qml=$(dirname "$(dirname "$(dpkg -L qml6-module-qtquick | grep '/qml/QtQuick/qmldir$')")")
  sed -n -E 's/^import ([A-Z][A-Za-z0-9.]*).*/\1/p' "$source"/app/qml/*.qml "$source"/app/qml/*/*.qml |
    grep -v -E '^(Tarnwick(\..*)?|QtQml)$' | sort -u | sed "s|\.|/|g; s|^|$qml/|; s|$|/qmldir|"
}
depends_cover_what_the_programs_load() {
  local file status=0
  relation_has Depends nodejs || status=1
  for file in $(loaded_files); do
    relation_has Depends "$(owner_of "$file")" "$file" || status=1
  done
  return $status
}
# The helper runs all session: libsecret and the GLib stack under it belong to its short-lived reader.
the_helper_leaves_the_keyring_to_its_reader() {
  ! readelf -d "$root/$helper" | grep -E 'NEEDED.*\[lib(secret|gio|gobject)-' &&
    readelf -d "$root/$reader" | grep -q 'NEEDED.*libsecret'
}
programs_run_from_the_unpacked_copy() {
  same "$("$root/usr/bin/tarnwick" --version) / $("$root/$helper" --version)" \
    "Tarnwick $version ($build) / TarnwickHelper $version ($build)"
}
desktop_entry_is_valid() {
  local entry=$root/usr/share/applications/com.tarnwick.Tarnwick.desktop
  desktop-file-validate "$entry" || return 1
  grep -qx 'Exec=/usr/bin/tarnwick %u' "$entry" && grep -qx 'MimeType=x-scheme-handler/tarnwick;' "$entry" ||
    { cat "$entry"; return 1; }
}
manual_page_renders_cleanly() {
  local page=$root/usr/share/man/man1/tarnwick.1.gz warnings
  for width in 80 120; do
    warnings=$(env -i PATH="$PATH" LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=$width \
      man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "at $width columns: $warnings"; return 1; }
  done
  for section in OPTIONS COMMANDS FILES ENVIRONMENT LOGS; do
    zcat "$page" | grep -qx "\.SH $section" || { echo "no $section section"; return 1; }
  done
}

check "the package's name, version and architecture" fields_are_right
check "Recommends a Secret Service, Qt's Wayland platform and xdg-utils" recommends_keyring_wayland_and_xdg_utils
check "it holds every file the programs use, all under /usr" has_the_files_the_programs_use
check "every icon is there in the size its folder names" icons_are_there_in_their_sizes
check "the launcher and the runtime link resolve as installed" links_point_where_the_programs_expect
check "Depends covers nodejs, every linked library and every QML module the window imports" \
  depends_cover_what_the_programs_load
check "the helper does not load libsecret; its credential reader does" the_helper_leaves_the_keyring_to_its_reader
check "tarnwick --version and the helper's --version run from dpkg -x" programs_run_from_the_unpacked_copy
check "desktop-file-validate accepts the desktop entry" desktop_entry_is_valid
check "appstreamcli validate accepts the metainfo" \
  appstreamcli validate --no-net "$root/usr/share/metainfo/com.tarnwick.Tarnwick.metainfo.xml"
check "the manual page renders without warnings" manual_page_renders_cleanly
check "lintian reports no error" lintian --fail-on error --tag-display-limit 0 "$deb"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
