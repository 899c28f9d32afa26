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

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-package-tools: all packages present"
  exit 0
fi

echo "install-package-tools: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
