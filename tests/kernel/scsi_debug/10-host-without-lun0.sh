# Three hosts: a tape (host0), a disk (host1, added later), and one whose only device is
# at LUN 1 (host2: no_lun_0=1 max_luns=2). Changing max_luns also makes scsi_debug raise
# "REPORTED LUNS DATA HAS CHANGED" (3F/0E) on the existing devices: a unit attention in the
# middle of the probe, which must not cost the tape its probe.
. /usr/local/lib/kernel-tests/lib.sh
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=1 max_luns=1
d=/sys/bus/pseudo/drivers/scsi_debug
echo 0 > $d/ptype; echo 1 > $d/add_host
# The kernel scans a new host asynchronously: let it find the disk before LUN 0 goes.
for i in $(seq 1 20); do [ -e /sys/bus/scsi/devices/1:0:0:0 ] && break; sleep 0.5; done
echo 2 > $d/max_luns; echo 1 > $d/no_lun_0; echo 1 > $d/add_host
for i in $(seq 1 20); do [ -e /sys/bus/scsi/devices/2:0:0:1 ] && break; sleep 0.5; done
scsi-show

run scan timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/trace
grep -v 'GET_DEV_TYPE status=130' /tmp/trace > /tmp/trace.short
show /tmp/trace.short "trace (absent targets left out)"
expect_rc "scan exits 1 - no audio drive" 1 "$RC"
expect_grep "adapter 2 (host2) is listed" '^Adapter 2: .*sysfs host2 channel 0$' /tmp/scan.out
expect_grep "host2's device at LUN 1 is not taken for target 0" '^  2:0  none$' /tmp/scan.out
expect_no_grep "nothing is sent to host2" '^2:[0-7] EXEC' /tmp/trace
expect_grep "the disk is listed on adapter 1" '^  1:0  disk  /dev/sg1 ' /tmp/scan.out
expect_grep "the unit attention 3F/0E reaches the probe" '^0:0 EXEC 00 .* status=4 sense=70 00 06 .* 3F 0E ' /tmp/trace
check "TEST UNIT READY is repeated after 3F/0E and passes" sh -c "sed -n '/ 3F 0E /,\$p' /tmp/trace | grep -q '^0:0 EXEC 00 00 00 00 00 00 flags=00 len=0 status=1 '"
expect_grep "the tape is still probed after the unit attention" '^0:0 EXEC 1A ' /tmp/trace
expect_grep "the tape is listed read-write" '^  0:0  tape  /dev/sg0 Linux scsi_debug, read-write OK$' /tmp/scan.out
finish
