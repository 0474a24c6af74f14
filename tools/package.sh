#!/usr/bin/env bash
# Builds Tarnwick's Debian package from a clean copy of the source, with the Debian tools (debian/).
set -euo pipefail

usage() {
  cat <<'EOF_USAGE'
Usage: tools/package.sh [--output DIR] [--base-url URL]

Copies the source (what git tracks, and new files it does not ignore) into a fresh folder, builds it
there with dpkg-buildpackage and puts tarnwick_VERSION-BUILD_ARCH.deb into DIR (default build/package).
The build needs the packages of debian/control's Build-Depends; tools/install-deps.sh installs them.

Options:
  --output DIR     where the package goes
  --base-url URL   the service address built into the programs (https://, or http:// on a loopback
                   host); by default the project's TARNWICK_BASE_URL default
  -h, --help       show this help
EOF_USAGE
}

fail() {
  echo "package.sh: $*" >&2
  exit 1
}

repository=$(cd "$(dirname "$0")/.." && pwd)
output="$repository/build/package"
while [ $# -gt 0 ]; do
  case "$1" in
    --output) [ $# -ge 2 ] || fail "--output needs a folder"; output=$2; shift ;;
    --base-url) [ $# -ge 2 ] || fail "--base-url needs an address"; export TARNWICK_BASE_URL=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
command -v dpkg-buildpackage >/dev/null || fail "dpkg-buildpackage is missing; run tools/install-deps.sh first"
git -C "$repository" rev-parse --git-dir >/dev/null 2>&1 || fail "$repository is not a git checkout: the source to package is what git tracks"
mkdir -p "$output"
output=$(realpath -e -- "$output")

# dpkg-buildpackage writes its results beside the source folder, so the copy gets a folder of its own. Its
# path stays the same from one run to the next, which lets ccache find the earlier compilations.
work="$repository/build/package-work"
rm -rf "$work"
mkdir -p "$work/source"
(cd "$repository" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null --files-from=- -cf -) | tar -xf - -C "$work/source"

# debhelper gives the build a home of its own; ccache keeps using the user's cache.
if command -v ccache >/dev/null; then
  CCACHE_DIR=$(ccache --get-config cache_dir)
  export CCACHE_DIR
fi
log="$output/build.log"
if ! (cd "$work/source" && dpkg-buildpackage --build=binary --no-sign -J2) >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  fail "dpkg-buildpackage failed; its whole output is in $log"
fi

package=$(cd "$work" && ls tarnwick_*.deb)
mv -f "$work/$package" "$output/"
rm -rf "$work"
echo "Built $output/$package"
