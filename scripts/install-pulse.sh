#!/usr/bin/env bash
# Installs the Debian packages the paced playback test needs (a PulseAudio server with a null
# sink, parec, and ALSA's pulse plugin), skipping those already installed. Run as root.
set -euo pipefail

packages=(pulseaudio pulseaudio-utils libasound2-plugins python3)

exec bash "$(dirname "$0")/install-missing.sh" install-pulse "${packages[@]}"
