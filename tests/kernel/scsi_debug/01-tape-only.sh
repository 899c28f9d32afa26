# One scsi_debug host with two tape devices (ptype=1), sg loaded, st not; the nodes as
# Debian's udev would set them. scsi_debug answers a tape with the disk command set, so the
# audio probe must fail cleanly on both: listed, named from INQUIRY, none selected.
. /usr/local/lib/kernel-tests/lib.sh
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=2 max_luns=1
sg-perms > /dev/null
scsi-show

run scan timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/trace
show /tmp/trace
expect_rc "scan exits 1 - no audio drive on the bus" 1 "$RC"
expect_between "scan takes under 10 s" "$SECS" 0 10
expect_grep "scan lists 0:0 as a tape at /dev/sg0, read-write" '^  0:0  tape  /dev/sg0 Linux scsi_debug, read-write OK$' /tmp/scan.out
expect_grep "scan lists 0:1 as a tape at /dev/sg1, read-write" '^  0:1  tape  /dev/sg1 Linux scsi_debug, read-write OK$' /tmp/scan.out
expect_grep "scan gives the adapter's sysfs host" '^Adapter 0: "scsi_debug", SCSI ID 7, 8 targets  sysfs host0 channel 0$' /tmp/scan.out
expect_count "scan names both tapes from their INQUIRY answer" '^Tape drive 0:[01]: Linux scsi_debug, firmware 0191$' /tmp/scan.out 2 2
expect_grep "scan says no audio-capable drive was found" '^An audio-capable tape drive was not found\. Program will exit\.$' /tmp/scan.out
expect_no_grep "scan selects no drive" '^Selected drive' /tmp/scan.out
expect_no_grep "scan prints no bare SRB status line" 'SRB Command status' /tmp/scan.out
expect_grep "the power-on unit attention (29/01) comes back in fixed sense" '^0:0 EXEC 00 .* status=4 sense=70 00 06 .* 29 01 ' /tmp/trace
expect_grep "TEST UNIT READY is repeated after the unit attention and passes" '^0:0 EXEC 00 00 00 00 00 00 flags=00 len=0 status=1 ' /tmp/trace
expect_grep "MODE SENSE is refused with ILLEGAL REQUEST 24/00" '^0:0 EXEC 1A .* status=4 sense=70 00 05 .* 24 00 ' /tmp/trace
expect_grep "INQUIRY's data arrives through SG_IO" '^0:0 EXEC 12 .* status=1 in=01 00 .* 4C 69 6E 75 78 ' /tmp/trace
expect_no_grep "no command goes to a target that has no device" '^0:[2-7] EXEC' /tmp/trace

run capture timeout -s KILL 90 vantrel --capture=/tmp/x.wav --scsi-trace=/tmp/trace2
expect_rc "capture exits 1 without an audio drive" 1 "$RC"
expect_between "capture gives up at once (nothing is becoming ready)" "$SECS" 0 10
expect_grep "capture says no audio-capable drive was found" 'An audio-capable tape drive was not found' /tmp/capture.out
check "capture writes no file" test ! -e /tmp/x.wav

# The program leaves the device as it found it: a plain SG_IO tool still gets GOOD.
check "sg_turs still passes on /dev/sg0 afterwards" sg_turs /dev/sg0
finish
