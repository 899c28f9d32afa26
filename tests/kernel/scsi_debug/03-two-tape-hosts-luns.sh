# add_host=2: two hosts with two tape targets each and two LUNs per target; st bound to the
# tapes as on a desktop. Only LUN 0 of each target is a drive: LUN 1's nodes stay unused.
. /usr/local/lib/kernel-tests/lib.sh
modprobe sg
modprobe st
modprobe scsi_debug ptype=1 add_host=2 num_tgts=2 max_luns=2
sg-perms > /dev/null
scsi-show | grep -v '^c.* /dev/n\?st'

run scan timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/trace
show /tmp/trace
expect_rc "scan exits 1 - no audio drive" 1 "$RC"
expect_grep "adapter 0 is sysfs host0" '^Adapter 0: .*sysfs host0 channel 0$' /tmp/scan.out
expect_grep "adapter 1 is sysfs host1" '^Adapter 1: .*sysfs host1 channel 0$' /tmp/scan.out
expect_grep "0:0 is LUN 0 of host0 target 0 (/dev/sg0)" '^  0:0  tape  /dev/sg0 ' /tmp/scan.out
expect_grep "0:1 is LUN 0 of host0 target 1 (/dev/sg2)" '^  0:1  tape  /dev/sg2 ' /tmp/scan.out
expect_grep "1:0 is LUN 0 of host1 target 0 (/dev/sg4)" '^  1:0  tape  /dev/sg4 ' /tmp/scan.out
expect_grep "1:1 is LUN 0 of host1 target 1 (/dev/sg6)" '^  1:1  tape  /dev/sg6 ' /tmp/scan.out
expect_no_grep "LUN 1's nodes are not listed" '/dev/sg[1357]( |$)' /tmp/scan.out
expect_count "four tape drives are named" '^Tape drive [01]:[01]: Linux scsi_debug' /tmp/scan.out 4 4
expect_count "each of the four is probed" '^[01]:[01] EXEC 00 .* status=1 ' /tmp/trace 4 40
finish
