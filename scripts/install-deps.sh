#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Vantrel need,
# skipping those already installed. Run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libasound2-dev libsndfile1-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  fonts-dejavu-core xvfb xauth xdotool libx11-dev lsscsi sox
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
