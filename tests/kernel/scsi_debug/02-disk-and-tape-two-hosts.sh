# Host 0: two disks (sd_mod loaded, as on a desktop); host 1, added afterwards: two tapes
# (st loaded). The adapter with the tapes becomes adapter 0, the disks are never probed, and
# the program uses the tapes' sg nodes, not st's.
. /usr/local/lib/kernel-tests/lib.sh
modprobe sg
modprobe sd_mod
modprobe st
modprobe scsi_debug ptype=0 num_tgts=2 max_luns=1 dev_size_mb=4
echo 1 > /sys/bus/pseudo/drivers/scsi_debug/ptype
echo 1 > /sys/bus/pseudo/drivers/scsi_debug/add_host
# The new host is scanned asynchronously.
for i in 1 2 3 4 5 6 7 8 9 10; do [ -e /sys/bus/scsi/devices/1:0:1:0/scsi_generic ] && break; sleep 0.5; done
sg-perms > /dev/null
scsi-show | grep -v '^c.* /dev/n\?st[0-9][alm]'

run scan timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/trace
show /tmp/trace
expect_rc "scan exits 1 - no audio drive" 1 "$RC"
expect_grep "the tape host (sysfs host1) is adapter 0" '^Adapter 0: "scsi_debug", SCSI ID 7, 8 targets  sysfs host1 channel 0$' /tmp/scan.out
expect_grep "the disk host (sysfs host0) is adapter 1" '^Adapter 1: "scsi_debug", SCSI ID 7, 8 targets  sysfs host0 channel 0$' /tmp/scan.out
expect_grep "tape 0:0 is reached through /dev/sg2" '^  0:0  tape  /dev/sg2 Linux scsi_debug, read-write OK$' /tmp/scan.out
expect_grep "tape 0:1 is reached through /dev/sg3" '^  0:1  tape  /dev/sg3 Linux scsi_debug, read-write OK$' /tmp/scan.out
expect_grep "disk 1:0 is listed at /dev/sg0" '^  1:0  disk  /dev/sg0 Linux scsi_debug' /tmp/scan.out
expect_no_grep "no command goes to the disks" '^1:[0-7] EXEC' /tmp/trace
expect_no_grep "the st nodes are not used" '/dev/n?st[0-9]' /tmp/scan.out
expect_count "both tapes are probed with TEST UNIT READY" '^0:[01] EXEC 00 ' /tmp/trace 2 20
finish
