#!/usr/bin/env bash
# Installs the Debian packages Tarnwick needs to build, run and test; only what is missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config git clang-format
  # the fuzz targets: clang 16 is the first that builds libstdc++'s std::expected
  clang-16 libclang-rt-16-dev
  # libraries
  qt6-base-dev qt6-declarative-dev qt6-httpserver-dev qt6-websockets-dev qcoro-qt6-dev libsecret-1-dev libglib2.0-dev
  libxcb1-dev
  libgl-dev
  # the window's QML compiled ahead of time (qmlcachegen) and checked (qmllint)
  qt6-declarative-dev-tools
  # runtime QML modules of the setup window
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts qml6-module-qtquick-window
  qml6-module-qtquick-templates qml6-module-qtqml-workerscript qml6-module-qtquick-dialogs
  qml6-module-qt-labs-platform
  # the runner's runtime
  nodejs
  # tests: a private session bus, a Secret Service, an X server
  xvfb xauth dbus gnome-keyring libsecret-tools fonts-dejavu-core xdg-utils
  # tests: the mock prompter that answers gnome-keyring's unlock prompt
  libgcr-3-dev
  # the Debian package: its build, and the tools that check it
  debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream file man-db
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
