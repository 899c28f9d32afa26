#!/usr/bin/env bash
# Renders the deck window on the virtual drive in its Ready and Data tape states into
# docs/deck-ready.png and docs/deck-data.png (shown in the README).
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default: build; it is configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja
cmake --build "$build" --target deck_screenshots
mkdir -p docs
# A real X server when there is one (or a virtual one), else Qt's offscreen platform: both
# render the same widgets with the same fonts.
if [ -n "${DISPLAY:-}" ]; then
  "$build/tests/deck_screenshots" docs
elif command -v xvfb-run >/dev/null; then
  xvfb-run -a "$build/tests/deck_screenshots" docs
else
  QT_QPA_PLATFORM=offscreen "$build/tests/deck_screenshots" docs
fi
