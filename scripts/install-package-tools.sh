#!/usr/bin/env bash
# Installs the Debian 12 packages that the packaging checks (.ci/package-check) need, skipping
# those already installed; with --screenshot also those of scripts/window-icon-screenshot.sh
# and scripts/render-icons.sh. Kept apart from install-deps.sh so that building and testing
# stay as quick to set up as they are. Run as root.
set -euo pipefail

packages=(
  desktop-file-utils appstream lintian man-db groff-base dpkg-dev file
)
if [ "${1:-}" = "--screenshot" ]; then
  packages+=(xvfb xauth openbox xdotool x11-utils x11-xserver-utils imagemagick librsvg2-bin)
fi

exec bash "$(dirname "$0")/install-missing.sh" install-package-tools "${packages[@]}"
