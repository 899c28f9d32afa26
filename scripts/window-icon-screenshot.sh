#!/usr/bin/env bash
# Draws docs/deck-window-icon.png: the deck on the virtual drive, Ready, as a window manager
# (openbox) frames it on a virtual X server, with the program's icon in its title bar. The
# AppStream metainfo shows it as the default screenshot.
# Usage: scripts/window-icon-screenshot.sh [BUILD_DIR]   (default: build). Run as root the
# first time, to install the X tools.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out=docs/deck-window-icon.png

bash scripts/install-package-tools.sh --screenshot
[ -f "$build/build.ninja" ] || [ -f "$build/Makefile" ] || cmake -S . -B "$build" -G Ninja
cmake --build "$build" --target vantrel

work=$(mktemp -d)
pids=()
# The deck first, the X server last, each allowed to finish before the next goes.
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes its display number to the pipe once it accepts clients; -noreset keeps it up
# when the last client leaves.
mkfifo "$work/display"
Xvfb -displayfd 5 -noreset -nolisten tcp -screen 0 520x380x24 5>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
read -r display <"$work/display"
export DISPLAY=":$display"
xsetroot -solid "#4a5866"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
# openbox announces itself on the root window when it manages windows.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done

program=$(cd "$build" && pwd)/vantrel
(cd "$work" && exec "$program" --simulate 2>"$work/vantrel.log") &
pids+=($!)
window=$(xdotool search --sync --onlyvisible --name '^Vantrel$' | head -n1)
xdotool windowmove "$window" 40 40
# The lamp test, the wait for the tape and the demo tape becoming ready take a few seconds.
sleep 8
mkdir -p docs
import -window root "$out"
echo "wrote $out ($(xprop -id "$window" WM_CLASS | sed 's/.*= //'))"
