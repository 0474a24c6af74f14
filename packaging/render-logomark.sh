#!/bin/sh
# Renders LogoMark.png from LogoMark.svg. The PNG is kept beside its source so that a build needs no SVG
# renderer; run this after changing the SVG (needs rsvg-convert, Debian package librsvg2-bin).
set -eu
cd "$(dirname "$0")"
rsvg-convert --width 144 --height 144 --output LogoMark.png LogoMark.svg
