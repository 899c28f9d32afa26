# Each command takes 1 s (delay=250 jiffies at HZ=250); the first tape is deleted from
# sysfs 2.5 s into --scan, while the program probes it. The device's loss is told once, the
# program leaves it alone afterwards and goes on with the other tape.
. /usr/local/lib/kernel-tests/lib.sh
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=2
echo 250 > /sys/bus/pseudo/drivers/scsi_debug/delay
( sleep 2.5; echo "### deleting 0:0:0:0 at $(now) s"; echo 1 > /sys/bus/scsi/devices/0:0:0:0/delete
  echo "### deleted at $(now) s" ) &
remover=$!
run scan timeout -s KILL 90 vantrel --scan --scsi-trace=/tmp/trace
wait $remover
show /tmp/trace
scsi-show
expect_rc "scan exits 1 - no audio drive" 1 "$RC"
expect_between "scan ends in reasonable time" "$SECS" 2 40
expect_count "the lost device is told once, with what to check" "^[A-Z0-9() ]+ on (/dev/sg0|0:0:0:0)[^:]*: (no such device|the device is gone or offline) \\(check the drive's power and cable, then start Vantrel again\\)\$" /tmp/scan.out 1 1
expect_count "nothing else names the lost device on stderr" '^[A-Z].*(0:0:0:0|/dev/sg0)' /tmp/scan.out 1 1
expect_no_grep "no SRB status lines" 'SRB Command status' /tmp/scan.out
expect_grep "a command to the lost device fails with no device (130)" '^0:0 EXEC .* status=130 ' /tmp/trace
check "no command goes to the lost device after that" sh -c "! sed -n '/^0:0 EXEC .* status=130 /,\$p' /tmp/trace | sed 1d | grep -q '^0:0 EXEC'"
expect_grep "the other tape is still probed and listed" '^  0:1  tape  /dev/sg1 Linux scsi_debug, read-write OK$' /tmp/scan.out
expect_grep "the other tape is named" '^Tape drive 0:1: Linux scsi_debug' /tmp/scan.out
finish
