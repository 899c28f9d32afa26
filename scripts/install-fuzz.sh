#!/usr/bin/env bash
# Installs what scripts/run-fuzz.sh needs besides scripts/install-deps.sh: Debian's clang with
# its libFuzzer and sanitizer runtimes, and llvm-symbolizer for readable stack traces. Run as root.
set -euo pipefail

packages=(clang libclang-rt-dev llvm)

exec bash "$(dirname "$0")/install-missing.sh" install-fuzz "${packages[@]}"
