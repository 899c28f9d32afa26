# A node missing from /dev while sysfs lists it; then Ctrl-C (SIGINT, once or twice) and
# SIGTERM while the program waits on one of three devices that never answer, with the
# timeouts scaled down (VANTREL_SG_TIMEOUT_SCALE=0.2: TEST UNIT READY gives up after 3 s,
# and the kernel's abort takes about a second more). A first signal ends --scan, --capture
# and --archive within a second plus the command under way; a second one ends them at once.
. /usr/local/lib/kernel-tests/lib.sh
d=/sys/bus/pseudo/drivers/scsi_debug
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=3
for n in 0 1 2; do sg_turs /dev/sg$n > /dev/null 2>&1; done   # the power-on unit attentions

mv /dev/sg0 /dev/sg0.away
run nonode timeout -s KILL 60 vantrel --scan
mv /dev/sg0.away /dev/sg0
expect_rc "missing node - scan exits 1" 1 "$RC"
expect_count "missing node - told once" '^TEST UNIT READY on /dev/sg0 \(0:0:0:0\): No such file or directory' /tmp/nonode.out 1 1
expect_grep "missing node - says how to make it again" '^TEST UNIT READY on /dev/sg0 .*/dev has no node for it.*udevadm trigger' /tmp/nonode.out
expect_no_grep "missing node - no SRB status lines" 'SRB Command status' /tmp/nonode.out
expect_grep "missing node - the other tapes are listed" '^  0:2  tape  /dev/sg2 Linux scsi_debug, read-write OK$' /tmp/nonode.out

echo 4 > $d/opts
echo 1 > $d/every_nth
export VANTREL_SG_TIMEOUT_SCALE=0.2
# A killed program leaves its command in the kernel until the timeout and abort: wait for
# the devices to be idle, so that each case starts alike.
idle() {
    for i in $(seq 1 100); do
        busy=0
        for b in /sys/bus/scsi/devices/0:0:*:0/device_busy; do busy=$((busy + $(cat $b))); done
        [ "$busy" = 0 ] && return
        sleep 0.2
    done
}
probed_only_first() { grep -q '^0:0 EXEC' "$1" && ! grep -q '^0:[12] EXEC' "$1"; }

run_signalled scanint "INT@1" timeout -s KILL 15 vantrel --scan
expect_rc "scan, Ctrl-C - ends by the signal" 130 "$RC"
expect_between "scan, Ctrl-C - ends within a second plus one 3 s command" "$AFTER" 0 4
idle
run_signalled scanterm "TERM@1" timeout -s KILL 15 vantrel --scan
expect_rc "scan, SIGTERM - ends by the signal" 143 "$RC"
expect_between "scan, SIGTERM - ends within a second plus one 3 s command" "$AFTER" 0 4
idle

run_signalled capint "INT@1" timeout -s KILL 15 vantrel --capture=/tmp/x.wav --scsi-trace=/tmp/t-capint
show /tmp/t-capint
expect_rc "capture, Ctrl-C - exits 1" 1 "$RC"
expect_between "capture, Ctrl-C - ends within a second plus one 3 s command" "$AFTER" 0 7
expect_count "capture, Ctrl-C - says once that nothing was captured" '^vantrel: interrupted before the capture began; nothing was captured\.$' /tmp/capint.out 1 1
check "capture, Ctrl-C - discovery stops at the device under way" probed_only_first /tmp/t-capint
check "capture, Ctrl-C - no file" test ! -e /tmp/x.wav
idle
run_signalled capint2 "INT@1 INT@1.5" timeout -s KILL 15 vantrel --capture=/tmp/x.wav
expect_rc "capture, Ctrl-C twice - ends by the signal" 130 "$RC"
expect_between "capture, Ctrl-C twice - ends at once after the second" "$SECS" 0 2.5
idle
run_signalled capterm "TERM@1" timeout -s KILL 15 vantrel --capture=/tmp/x.wav --scsi-trace=/tmp/t-capterm
expect_rc "capture, SIGTERM - exits 1" 1 "$RC"
expect_between "capture, SIGTERM - ends within a second plus one 3 s command" "$AFTER" 0 7
check "capture, SIGTERM - discovery stops at the device under way" probed_only_first /tmp/t-capterm
idle

rm -rf /tmp/pkg
run_signalled arcint "INT@1" timeout -s KILL 15 vantrel --archive=/tmp/pkg --scsi-trace=/tmp/t-arcint
show /tmp/t-arcint
expect_rc "archive, Ctrl-C - exits 1" 1 "$RC"
expect_between "archive, Ctrl-C - ends within a second plus one 3 s command" "$AFTER" 0 7
expect_count "archive, Ctrl-C - says once that nothing was archived" '^vantrel: interrupted before the archive began; nothing was archived\.$' /tmp/arcint.out 1 1
check "archive, Ctrl-C - discovery stops at the device under way" probed_only_first /tmp/t-arcint
idle
rm -rf /tmp/pkg
run_signalled arcint2 "INT@1 INT@1.5" timeout -s KILL 15 vantrel --archive=/tmp/pkg
expect_rc "archive, Ctrl-C twice - ends by the signal" 130 "$RC"
expect_between "archive, Ctrl-C twice - ends at once after the second" "$SECS" 0 2.5
finish
