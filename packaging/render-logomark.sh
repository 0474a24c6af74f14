#!/bin/sh
# Renders the PNGs from their SVG sources: LogoMark.png (the brand mark the programs show) and the
# application icon in every hicolor size. The PNGs are kept beside their sources so that a build needs no
# SVG renderer; run this after changing an SVG (needs rsvg-convert, Debian package librsvg2-bin).
set -eu
cd "$(dirname "$0")"
rsvg-convert --width 144 --height 144 --output LogoMark.png LogoMark.svg
for size in 16 22 24 32 48 64 128 256 512; do
  rsvg-convert --width "$size" --height "$size" --output "icons/$size.png" icons/com.tarnwick.Tarnwick.svg
done
