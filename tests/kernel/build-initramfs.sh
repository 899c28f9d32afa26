#!/bin/bash
# Builds the initramfs that run-in-vm.sh boots: busybox, the SCSI modules (sg, scsi_debug, the
# target subsystem's target_core_user and tcm_loop,
# st, sd_mod and what they need), the vantrel binary with every shared library it loads,
# Qt's offscreen platform plugin, a passwd/group with a non-root user, and guest-init.sh as
# /init. The archive is an uncompressed newc cpio (the kernel unpacks it faster than it
# would inflate a compressed one under TCG).
#
# Usage: build-initramfs.sh [-b BINARY] [-p PROGRAM]... [-k KERNEL_VERSION] -o OUT.cpio
#   -b  the program to put in the VM as /usr/local/bin/vantrel
#       (default: $VANTREL, else build/vantrel)
#   -p  another program for /usr/local/bin/NAME, with its shared libraries (repeatable)
#   -k  kernel version under /lib/modules (default: the newest *-amd64 there)
#   -o  where to write the archive
# Needs: busybox-static, kmod (depmod), cpio, and the linux-image package of that version;
# sg3-utils is optional (sg_raw, sg_turs, sg_modes, sg_inq, sg_requests come along if installed),
# and so is a C compiler (the probes/*.c programs are built static into /usr/local/bin).
# lib.sh, the checks' shell functions, goes to /usr/local/lib/kernel-tests/lib.sh.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=${VANTREL:-build/vantrel}
kver=
out=
programs=()
while getopts b:p:k:o: opt; do
    case $opt in
        b) binary=$OPTARG ;;
        p) programs+=("$OPTARG") ;;
        k) kver=$OPTARG ;;
        o) out=$OPTARG ;;
        *) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0" >&2; exit 2 ;;
    esac
done
[ -n "$out" ] || { echo "build-initramfs: -o OUT is required" >&2; exit 2; }
if [ -z "$kver" ]; then
    kver=$(ls /lib/modules | grep -- '-amd64$' | sort -V | tail -1 || true)
fi
[ -n "$kver" ] && [ -d "/lib/modules/$kver" ] || {
    echo "build-initramfs: no kernel modules found (apt-get install linux-image-amd64)" >&2; exit 1; }
[ -x "$binary" ] || { echo "build-initramfs: no program at $binary" >&2; exit 1; }
for p in "${programs[@]+"${programs[@]}"}"; do
    [ -x "$p" ] || { echo "build-initramfs: no program at $p" >&2; exit 1; }
done
busybox=$(command -v busybox || true)
[ -n "$busybox" ] && { ldd "$busybox" 2>&1 || true; } | grep -q 'not a dynamic executable' || {
    echo "build-initramfs: need a static busybox (apt-get install busybox-static)" >&2; exit 1; }

root=$(mktemp -d /tmp/qemu-sg-root.XXXXXX)
trap 'rm -rf "$root"' EXIT

mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,usr/local/bin,usr/lib,usr/lib64,etc,proc,sys,dev,tmp,run,root,home/tester,var/log}
# Merged /usr, as on Debian 12: /lib and /lib64 are links into /usr.
ln -s usr/lib "$root/lib"
ln -s usr/lib64 "$root/lib64"
chmod 1777 "$root/tmp"
chmod 0700 "$root/root"

# --- busybox and its applets
cp "$busybox" "$root/bin/busybox"
for applet in $("$busybox" --list); do
    case $applet in busybox) continue ;; esac
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
for applet in modprobe insmod rmmod lsmod depmod poweroff reboot halt mdev; do
    ln -sf ../bin/busybox "$root/sbin/$applet"
done

# --- kernel modules: the wanted ones and everything modules.dep says they need
mods=/lib/modules/$kver
# configfs is where the target subsystem is set up; some kernels build it in.
wanted="scsi_debug sg st sd_mod crct10dif_generic target_core_user tcm_loop configfs"
declare -A seen=()
for name in $wanted; do
    rel=$(awk -F: -v n="$name" '{ f=$1; sub(".*/", "", f); sub("\\.ko.*$", "", f); gsub("-", "_", f);
                                   if (f == n) { print $0; exit } }' "$mods/modules.dep")
    if [ -z "$rel" ] && [ "$name" = configfs ] && grep -q '/configfs\.ko' "$mods/modules.builtin" 2>/dev/null; then
        continue
    fi
    [ -n "$rel" ] || { echo "build-initramfs: module $name not in $mods/modules.dep" >&2; exit 1; }
    for f in ${rel//:/ }; do
        [ -n "${seen[$f]:-}" ] && continue
        seen[$f]=1
        mkdir -p "$root/lib/modules/$kver/$(dirname "$f")"
        case $f in
            *.ko.xz) xz -dc "$mods/$f" > "$root/lib/modules/$kver/${f%.xz}" ;;
            *.ko.zst) zstd -qdc "$mods/$f" > "$root/lib/modules/$kver/${f%.zst}" ;;
            *.ko.gz) gzip -dc "$mods/$f" > "$root/lib/modules/$kver/${f%.gz}" ;;
            *) cp "$mods/$f" "$root/lib/modules/$kver/$f" ;;
        esac
    done
done
for f in modules.order modules.builtin modules.builtin.modinfo; do
    [ -f "$mods/$f" ] && cp "$mods/$f" "$root/lib/modules/$kver/"
done
depmod -b "$root" "$kver"

# --- the program, its libraries, the loader, Qt's offscreen plugin and ALSA's configuration
copy_file() {  # a file at the same absolute path inside the root; a link stays a link
    local src=$1 real
    [ -e "$root$src" ] || [ -L "$root$src" ] && return 0
    mkdir -p "$root$(dirname "$src")"
    real=$(readlink -f "$src")
    if [ "$real" != "$src" ] && [ "$(readlink -f "$(dirname "$src")")/$(basename "$src")" != "$real" ]; then
        copy_file "$real"
        ln -s "$real" "$root$src"
    else
        cp "$real" "$root$src"
    fi
}
copy_libs() {  # the shared libraries (and loader) a program or library needs
    local lib
    ldd "$1" 2>/dev/null | awk '/=> \// { print $3 } /^[ \t]*\/[^ ]+ \(/ { print $1 }' | while read -r lib; do
        copy_file "$lib"
    done
}
install -m 0755 "$binary" "$root/usr/local/bin/vantrel"
copy_libs "$binary"
for p in "${programs[@]+"${programs[@]}"}"; do
    install -m 0755 "$p" "$root/usr/local/bin/$(basename "$p")"
    copy_libs "$p"
done
# ldd above read the host path; what matters is that the same libraries are inside.
loader=$(ldd "$binary" | awk '/ld-linux/ { print $1 }')
copy_file "$loader"
[ -e "$root/lib64/ld-linux-x86-64.so.2" ] || copy_file /lib64/ld-linux-x86-64.so.2

qtplugins=/usr/lib/x86_64-linux-gnu/qt6/plugins
if [ -f "$qtplugins/platforms/libqoffscreen.so" ]; then
    copy_file "$qtplugins/platforms/libqoffscreen.so"
    copy_libs "$qtplugins/platforms/libqoffscreen.so"
else
    echo "build-initramfs: warning: no Qt offscreen plugin at $qtplugins/platforms" >&2
fi
# sg3-utils, when installed, to cross-check the program with a plain SG_IO tool.
for tool in sg_raw sg_turs sg_modes sg_inq sg_requests; do
    path=$(command -v "$tool" || true)
    [ -n "$path" ] || continue
    copy_file "$path"
    copy_libs "$path"
done
[ -d /usr/share/alsa ] && { mkdir -p "$root/usr/share"; cp -a /usr/share/alsa "$root/usr/share/"; }
# The name service switch: glibc's getpwuid in the program reads these.
for f in /lib/x86_64-linux-gnu/libnss_files.so.2; do [ -e "$f" ] && copy_file "$f"; done

# --- users, groups, shells (Debian's numbers: disk 6, tape 26)
cat > "$root/etc/passwd" <<'EOF'
root:x:0:0:root:/root:/bin/sh
tester:x:1000:1000:tester:/home/tester:/bin/sh
nobody:x:65534:65534:nobody:/nonexistent:/bin/sh
EOF
cat > "$root/etc/group" <<'EOF'
root:x:0:
disk:x:6:
tape:x:26:
tester:x:1000:
taper:x:1001:
nogroup:x:65534:
EOF
# A second non-root user who is in the group tape.
echo 'taper:x:1001:1001:taper:/home/taper:/bin/sh' >> "$root/etc/passwd"
sed -i 's/^tape:x:26:$/tape:x:26:taper/' "$root/etc/group"
mkdir -p "$root/home/taper"
printf 'root::19000:0:99999:7:::\ntester::19000:0:99999:7:::\ntaper::19000:0:99999:7:::\n' > "$root/etc/shadow"
chmod 0600 "$root/etc/shadow"
echo /bin/sh > "$root/etc/shells"
echo 'passwd: files
group: files
shadow: files' > "$root/etc/nsswitch.conf"
echo qemu-sg > "$root/etc/hostname"
chown -R 1000:1000 "$root/home/tester"
chown -R 1001:1001 "$root/home/taper"

# --- guest scripts
install -m 0755 "$here/guest-init.sh" "$root/init"
install -m 0755 "$here/guest-sg-perms.sh" "$root/usr/local/bin/sg-perms"
install -m 0755 "$here/guest-scsi-show.sh" "$root/usr/local/bin/scsi-show"
install -D -m 0644 "$here/lib.sh" "$root/usr/local/lib/kernel-tests/lib.sh"
# Small SG_IO probes (probes/*.c), built static, when a C compiler is here.
if command -v cc > /dev/null; then
    for src in "$here"/probes/*.c; do
        [ -e "$src" ] || continue
        cc -static -O2 -Wall -o "$root/usr/local/bin/$(basename "$src" .c)" "$src" ||
            echo "build-initramfs: warning: could not build $src" >&2
    done
fi
echo "$kver" > "$root/etc/qemu-sg-kernel"

mkdir -p "$(dirname "$out")"
# A private name until complete: two runs may build the same image at once.
tmp=$(mktemp "$out.XXXXXX")
(cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio --quiet -o -H newc) > "$tmp"
chmod 0644 "$tmp"
mv "$tmp" "$out"
echo "build-initramfs: $out ($(du -h "$out" | cut -f1), kernel $kver, programs $binary${programs[*]+ ${programs[*]}})" >&2
