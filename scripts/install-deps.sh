#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Vantrel need,
# skipping those already installed. Run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libasound2-dev libsndfile1-dev nlohmann-json3-dev libssl-dev
  libgtest-dev libgmock-dev
  fonts-dejavu-core xvfb xauth xdotool libx11-dev lsscsi sox
  openbox x11-utils inotify-tools dbus at-spi2-core python3-pyatspi
  clang-format
)

exec bash "$(dirname "$0")/install-missing.sh" install-deps "${packages[@]}"
