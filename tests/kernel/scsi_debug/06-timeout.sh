# Every command is swallowed by the device (scsi_debug every_nth=1 opts=4): the kernel's
# timeout and abort bring each SG_IO back. A command that does not move the tape gives up
# after 15 s (a minute before), and discovery says which device it waits for. Once at the
# real 15 s, then with the timeouts scaled down (VANTREL_SG_TIMEOUT_SCALE=0.2: 3 s) on two
# devices.
. /usr/local/lib/kernel-tests/lib.sh
d=/sys/bus/pseudo/drivers/scsi_debug
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=1
sg_turs /dev/sg0 > /dev/null 2>&1   # take the power-on unit attention
echo 4 > $d/opts
echo 1 > $d/every_nth

run scan timeout -s KILL 45 vantrel --scan --scsi-trace=/tmp/trace
show /tmp/trace
expect_rc "unscaled - scan exits 1" 1 "$RC"
expect_between "unscaled - TEST UNIT READY gives up after 15 s plus the kernel's abort" "$SECS" 14.5 25
expect_count "unscaled - the timeout is told once, with its length" '^TEST UNIT READY on /dev/sg0: timed out after 15 s; the kernel aborted it$' /tmp/scan.out 1 1
expect_count "unscaled - scan says which device it waits for" '^Waiting for 0:0 \(/dev/sg0 Linux scsi_debug\) to answer TEST UNIT READY \(it gives up after 15 s\)\.\.\.$' /tmp/scan.out 1 1
expect_count "unscaled - one timed-out command, then the device is left alone" '^0:0 EXEC' /tmp/trace 1 1
expect_grep "unscaled - the trace shows the command aborted" '^0:0 EXEC 00 .* status=2 ' /tmp/trace
expect_no_grep "unscaled - no SRB status lines" 'SRB Command status' /tmp/scan.out

# Two swallowing devices, timeouts scaled down.
echo 0 > $d/every_nth
echo 1 > $d/add_host
for i in 1 2 3 4 5 6 7 8 9 10; do [ -e /dev/sg1 ] && break; sleep 0.5; done
sg_turs /dev/sg1 > /dev/null 2>&1
echo 1 > $d/every_nth
export VANTREL_SG_TIMEOUT_SCALE=0.2
run scaled timeout -s KILL 45 vantrel --scan --scsi-trace=/tmp/trace2
show /tmp/trace2
expect_rc "scaled - scan exits 1" 1 "$RC"
expect_between "scaled - two devices cost two 3 s timeouts plus the aborts" "$SECS" 5.5 16
expect_grep "scaled - 0:0's timeout is told with the scaled length" '^TEST UNIT READY on /dev/sg0: timed out after 3 s; the kernel aborted it$' /tmp/scaled.out
expect_grep "scaled - 1:0's timeout is told with the scaled length" '^TEST UNIT READY on /dev/sg1: timed out after 3 s; the kernel aborted it$' /tmp/scaled.out
expect_grep "scaled - scan says it waits for 0:0" '^Waiting for 0:0 \(/dev/sg0 Linux scsi_debug\) to answer TEST UNIT READY' /tmp/scaled.out
expect_grep "scaled - scan says it waits for 1:0" '^Waiting for 1:0 \(/dev/sg1 Linux scsi_debug\) to answer TEST UNIT READY' /tmp/scaled.out
show_kernel() { dmesg | grep -iE 'abort|timeout|timed out|reset' | tail -8 > /tmp/kernel.txt; show /tmp/kernel.txt "kernel log: aborts"; }
show_kernel
finish
