#!/usr/bin/env bash
# Installs the Debian packages the kernel test suite (tests/kernel/run-suite.sh) needs: qemu,
# Debian's kernel with its modules (sg, scsi_debug, the SCSI target subsystem), a static
# busybox, cpio and kmod to build the guest's initramfs, sg3-utils for the guest's reference
# SG_IO tools, and gcc with libc6-dev to build the static SG_IO probe. Skips those already
# installed. Run as root.
set -euo pipefail

packages=(qemu-system-x86 linux-image-amd64 busybox-static cpio kmod sg3-utils gcc libc6-dev)

exec bash "$(dirname "$0")/install-missing.sh" install-kernel-test "${packages[@]}"
