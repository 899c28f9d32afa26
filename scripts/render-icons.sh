#!/usr/bin/env bash
# Renders the scalable icon into the 48 and 128 pixel PNGs that are checked in beside it
# (the build then needs no SVG renderer). Run after changing the SVG.
# Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
for size in 48 128; do
  mkdir -p "$size"
  rsvg-convert -w "$size" -h "$size" io.github.vantrel.Vantrel.svg -o "$size/io.github.vantrel.Vantrel.png"
done
