#!/usr/bin/env bash
# Installs the Debian packages the paced playback test needs (a PulseAudio server with a null
# sink, parec, and ALSA's pulse plugin), skipping those already installed. Run as root.
set -euo pipefail

packages=(pulseaudio pulseaudio-utils libasound2-plugins python3)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-pulse: all packages present"
  exit 0
fi

echo "install-pulse: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
