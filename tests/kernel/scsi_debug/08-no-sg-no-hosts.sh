# No SCSI at all, then a SCSI host without the sg module, then sg loaded. Each case gets one
# message that says what is missing and what to do.
. /usr/local/lib/kernel-tests/lib.sh
nohost='^Linux shows no SCSI host \(/sys/class/scsi_host is empty\): check the drive.s power and cable, the SCSI adapter.s driver \(lsmod, dmesg\), or the USB-SCSI bridge the drive is on\.$'

run scan0 timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/t0
show /tmp/t0
expect_rc "no host - scan exits 1" 1 "$RC"
expect_count "no host - scan says Linux shows no SCSI host, and what to check" "$nohost" /tmp/scan0.out 1 1
run capture0 timeout -s KILL 60 vantrel --capture=/tmp/x.wav
expect_rc "no host - capture exits 1" 1 "$RC"
expect_count "no host - capture's start-up message says the same" "$nohost" /tmp/capture0.out 1 1
expect_between "no host - capture does not wait for a drive" "$SECS" 0 5
run archive0 timeout -s KILL 60 vantrel --archive=/tmp/pkg
expect_count "no host - archive's start-up message says the same" "$nohost" /tmp/archive0.out 1 1

modprobe scsi_debug ptype=1 num_tgts=1
scsi-show
run nosg timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/t1
show /tmp/t1
expect_rc "without sg - scan exits 1" 1 "$RC"
expect_count "without sg - told once to load the module" "^TEST UNIT READY on 0:0:0:0: no sg device node \\(load the sg module with 'modprobe sg'\\)\$" /tmp/nosg.out 1 1
expect_grep "without sg - the listing says the node is missing" "^  0:0  tape  0:0:0:0 Linux scsi_debug, no sg device node" /tmp/nosg.out
expect_no_grep "without sg - no SRB status lines" 'SRB Command status' /tmp/nosg.out
expect_no_grep "without sg - no SCSI-host hint (there is a host)" 'no SCSI host' /tmp/nosg.out

modprobe sg
run withsg timeout -s KILL 60 vantrel --scan
expect_grep "sg loaded afterwards - the node is found and opens" '^  0:0  tape  /dev/sg0 Linux scsi_debug, read-write OK$' /tmp/withsg.out
expect_no_grep "sg loaded afterwards - no module hint" 'modprobe sg' /tmp/withsg.out
finish
