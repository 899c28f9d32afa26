#!/usr/bin/env bash
# Renders the deck window on the virtual drive in its Ready and Data tape states and playing,
# and the Archive Tape window's result, into docs/deck-ready.png, docs/deck-data.png,
# docs/deck-playing.png and docs/archive-result.png, and the Ready deck at the scale factors
# 1, 1.25, 1.5 and 2 into docs/deck-scale-FACTOR.png, each checked by its pixels for whole
# LED digits (shown in the README).
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default: build; it is configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja
cmake --build "$build" --target deck_screenshots
mkdir -p docs
# A real X server when there is one (or a virtual one), else Qt's offscreen platform: both
# render the same widgets with the same fonts.
shoot() {
  if [ -n "${DISPLAY:-}" ]; then
    "$build/tests/deck_screenshots" "$@"
  elif command -v xvfb-run >/dev/null; then
    xvfb-run -a "$build/tests/deck_screenshots" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$build/tests/deck_screenshots" "$@"
  fi
}
shoot docs
# Qt reads the scale factor once, at start: one process per factor.
for factor in 1 1.25 1.5 2; do
  QT_SCALE_FACTOR=$factor shoot --scale docs
done
