#!/usr/bin/env bash
# Draws docs/console-read-position.png: the diagnostic console after Read Position on the
# virtual drive (demo tape, located to 00:01:05). Needs no display (Qt's offscreen platform).
# Usage: scripts/console-screenshot.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja
cmake --build "$build" --target console_screenshot
mkdir -p docs
QT_QPA_PLATFORM=offscreen "$build/tests/console_screenshot" docs/console-read-position.png
echo "wrote docs/console-read-position.png"
