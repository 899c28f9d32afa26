#!/bin/bash
# Runs a shell command line inside a qemu virtual machine that boots Debian's own kernel
# with a busybox initramfs, so that a program can be tried against the real SCSI generic
# (sg) driver, the scsi_debug pseudo adapter and the SCSI target subsystem on a machine
# with no SCSI devices, no loadable modules and no KVM. TCG emulation: a run takes 10-30 s.
#
# Usage: run-in-vm.sh [OPTIONS] [--] 'COMMAND LINE'
#        run-in-vm.sh [OPTIONS] -f SCRIPT
#
# The command runs as root under busybox sh in the guest, after /proc, /sys, /dev
# (devtmpfs), /tmp are mounted; no module is loaded yet: load them yourself, e.g.
#     modprobe sg; modprobe scsi_debug ptype=1 num_tgts=2
# In the guest: /usr/local/bin/vantrel (the program, with all its libraries), the -p
# programs, busybox (modprobe, lsscsi, su, timeout, dmesg, mt...), `sg-perms` (gives
# /dev/sgN the owner and mode Debian's udev would: group tape for tapes, disk otherwise,
# 0660), `scsi-show` (the sysfs view of hosts and devices, and the nodes), sg3-utils'
# sg_raw, sg_turs, sg_modes, sg_inq, sg_requests when the host has them, the probes/*.c
# programs (sg-stale), the checks' shell functions in /usr/local/lib/kernel-tests/lib.sh,
# users root, tester (uid 1000, not in tape) and taper (uid 1001, in group tape); run as
# them with `su -s /bin/sh tester -c 'CMD'` (the environment is kept, HOME and USER
# change). QT_QPA_PLATFORM=offscreen is set.
# Its output goes to this script's stdout (second serial port); the kernel's console
# (first serial port) goes to a log file, printed with -K or when the run fails to finish.
#
# Options:
#   -b BINARY      the program to put in the VM (default $VANTREL, else
#                  build/vantrel)
#   -p PROGRAM     another program for the guest's /usr/local/bin/NAME, with its shared
#                  libraries (repeatable)
#   -k VERSION     kernel version (default: newest /lib/modules/*-amd64)
#   -m MB          guest memory (default 1024)
#   -c N           guest CPUs (default 2)
#   -t SECONDS     limit for the command inside the guest (default 600); qemu itself is
#                  killed 300 s after that
#   -a HOST:GUEST  add a file to the guest (repeatable; not under /tmp, /run, /dev,
#                  which are mounted over)
#   -F DIR         a folder the guest sees as /kernel-files/ (default: files/ beside this
#                  script, when it exists)
#   -l FILE        keep the kernel console log there
#   -K             print the kernel console log after the output
#   -f SCRIPT      run this script file instead of a command line
# Exit status: the command's, 124 when qemu had to be killed, 125 when the VM did not run
# the command. Initramfs images are cached in $QEMU_SG_CACHE (default
# /tmp/vantrel-kernel-cache), keyed by the programs, the kernel and these scripts; the
# newest few are kept.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=${VANTREL:-build/vantrel}
kver=
mem=1024
cpus=2
limit=600
klog_keep=
show_klog=0
script_file=
adds=()
programs=()
files_dir=$here/files
usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; }
while getopts b:p:k:m:c:t:a:F:l:Kf:h opt; do
    case $opt in
        b) binary=$OPTARG ;;
        p) programs+=("$OPTARG") ;;
        k) kver=$OPTARG ;;
        m) mem=$OPTARG ;;
        c) cpus=$OPTARG ;;
        t) limit=$OPTARG ;;
        a) adds+=("$OPTARG") ;;
        F) files_dir=$OPTARG ;;
        l) klog_keep=$OPTARG ;;
        K) show_klog=1 ;;
        f) script_file=$OPTARG ;;
        h) usage; exit 0 ;;
        *) usage >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [ -z "$script_file" ] && [ $# -eq 0 ]; then
    echo "run-in-vm: give a command line or -f SCRIPT (-h for help)" >&2
    exit 2
fi
if [ -z "$kver" ]; then
    kver=$(ls /lib/modules 2>/dev/null | grep -- '-amd64$' | sort -V | tail -1 || true)
fi
kernel=/boot/vmlinuz-$kver
[ -n "$kver" ] && [ -r "$kernel" ] || {
    echo "run-in-vm: no kernel image /boot/vmlinuz-$kver (apt-get install linux-image-amd64)" >&2; exit 125; }
command -v qemu-system-x86_64 >/dev/null || {
    echo "run-in-vm: qemu-system-x86_64 missing (apt-get install qemu-system-x86)" >&2; exit 125; }
[ -x "$binary" ] || { echo "run-in-vm: no program at $binary" >&2; exit 125; }
for p in "${programs[@]+"${programs[@]}"}"; do
    [ -x "$p" ] || { echo "run-in-vm: no program at $p" >&2; exit 125; }
done

# --- the base initramfs, cached
cache=${QEMU_SG_CACHE:-/tmp/vantrel-kernel-cache}
mkdir -p "$cache"
progopts=()
for p in "${programs[@]+"${programs[@]}"}"; do progopts+=(-p "$p"); done
key=$( { sha256sum "$binary" "${programs[@]+"${programs[@]}"}" "$here"/build-initramfs.sh "$here"/guest-*.sh \
             "$here"/lib.sh "$here"/probes/*.c | cut -d' ' -f1
         for p in "${programs[@]+"${programs[@]}"}"; do basename "$p"; done
         echo "$kver"; } | sha256sum | cut -c1-16)
base=$cache/base-$key.cpio
if [ ! -s "$base" ]; then
    "$here/build-initramfs.sh" -b "$binary" "${progopts[@]+"${progopts[@]}"}" -k "$kver" -o "$base" >&2
    # An image is about 100 MB and each rebuilt program makes a new one: keep the newest few.
    ls -t "$cache"/base-*.cpio 2>/dev/null | tail -n +5 | xargs -r rm -f
fi
touch "$base"

# --- this run's archive: the command and the added files, appended to the base
work=$(mktemp -d /tmp/qemu-sg-run.XXXXXX)
qpid=
cleanup() { [ -n "$qpid" ] && kill "$qpid" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
stage=$work/stage
mkdir -p -m 0755 "$stage/qemu-sg"
{
    echo "#!/bin/sh"
    if [ -n "$script_file" ]; then
        cat "$script_file"
    else
        printf '%s\n' "$*"
    fi
} > "$stage/qemu-sg/cmd.sh"
chmod 0755 "$stage/qemu-sg/cmd.sh"
for spec in "${adds[@]+"${adds[@]}"}"; do
    src=${spec%%:*}
    dst=${spec#*:}
    [ -e "$src" ] && [ "${dst#/}" != "$dst" ] || { echo "run-in-vm: bad -a $spec (HOST:/GUEST/PATH)" >&2; exit 2; }
    # Directories that already exist in the base keep their mode: stage them 0755.
    (umask 022; mkdir -p "$stage$(dirname "$dst")")
    cp -L "$src" "$stage$dst"
done
if [ -d "$files_dir" ]; then
    (umask 022; mkdir -p "$stage/kernel-files")
    cp -RL "$files_dir"/. "$stage/kernel-files/"
fi
(cd "$stage" && find . -mindepth 1 | LC_ALL=C sort | cpio --quiet -o -H newc) > "$work/run.cpio"
cat "$base" "$work/run.cpio" > "$work/initrd.cpio"

# --- boot; qemu runs under timeout, which kills it past the host's limit
out=$work/out.log
klog=${klog_keep:-$work/kernel.log}
: > "$out"
: > "$klog"
host_limit=$((limit + 300))
start=$(date +%s.%N)
timeout -k 10 "$host_limit" qemu-system-x86_64 \
    -M pc -accel tcg,thread=multi -cpu max -smp "$cpus" -m "$mem" \
    -nodefaults -no-user-config -display none -vga none -no-reboot \
    -kernel "$kernel" -initrd "$work/initrd.cpio" \
    -append "console=ttyS0,115200 rdinit=/init panic=-1 loglevel=6 qemu_sg.timeout=$limit" \
    -chardev "file,id=klog,path=$klog" -serial chardev:klog \
    -chardev "file,id=out,path=$out" -serial chardev:out \
    < /dev/null > "$work/qemu.stderr" 2>&1 &
qpid=$!
tail -n +1 -f --pid="$qpid" "$out" | sed -u 's/\r//g' &
tpid=$!
wait "$qpid" 2>/dev/null && qrc=0 || qrc=$?
qpid=
wait "$tpid" 2>/dev/null || true
killed=0
if [ "$qrc" = 124 ] || [ "$qrc" = 137 ]; then
    echo "=== run-in-vm: qemu still running after ${host_limit} s: killed" >&2
    killed=1
fi
end=$(date +%s.%N)
wall=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", e - s }')

rc_line=$(tr -d '\r' < "$out" | grep -a '^=== qemu-sg: rc=' | tail -1 || true)
boot_line=$(tr -d '\r' < "$out" | grep -a '^=== qemu-sg: guest up after' | head -1 || true)
boot=$(printf '%s\n' "$boot_line" | sed -n 's/.*guest up after \([0-9.]*\) s.*/\1/p')
echo "=== run-in-vm: wall ${wall} s (qemu start to power-off), guest boot to /init ${boot:-?} s, kernel $kver, TCG, ${cpus} CPU(s)" >&2
if [ "$show_klog" = 1 ] || [ -z "$rc_line" ]; then
    echo "=== run-in-vm: kernel console log ($klog):" >&2
    tr -d '\r' < "$klog" >&2
    [ -s "$work/qemu.stderr" ] && { echo "=== run-in-vm: qemu's stderr:" >&2; cat "$work/qemu.stderr" >&2; }
fi
if [ "$killed" = 1 ]; then
    exit 124
fi
if [ -z "$rc_line" ]; then
    echo "=== run-in-vm: the guest did not report an exit status (qemu exit $qrc)" >&2
    exit 125
fi
rc=${rc_line#=== qemu-sg: rc=}
rc=${rc%% *}
exit "$rc"
