#!/usr/bin/env bash
# Installs those of the Debian packages named that are not installed yet. Run as root.
# Usage: install-missing.sh LABEL PACKAGE...   (LABEL names the caller in what it prints)
set -euo pipefail
label=$1
shift

missing=()
for p in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "$label: all packages present"
  exit 0
fi

echo "$label: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
