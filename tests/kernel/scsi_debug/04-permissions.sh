# Node permissions: the tape's sg node root:tape 0660 as udev makes it; a user outside the
# group, a user inside it, a node with mode 000. Each refusal is told once, with what to do.
# Last, the kernel's command filter on read-only descriptors, which is why the program opens
# the node read-write.
. /usr/local/lib/kernel-tests/lib.sh
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=1
sg-perms
as() { user=$1; shift; su -s /bin/sh "$user" -c "unset XDG_RUNTIME_DIR; $*"; }
denied="Permission denied \\(tape drives' sg nodes belong to the group 'tape': add yourself to it, e\\.g\\. 'sudo adduser \\\$USER tape', and log in again\\)"

run tester as tester 'timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/t-tester'
show /tmp/t-tester
expect_rc "outside group tape - scan exits 1" 1 "$RC"
expect_count "outside group tape - the refusal is told once, with the group to join" "^TEST UNIT READY on /dev/sg0 \\(0:0:0:0\\): $denied\$" /tmp/tester.out 1 1
expect_grep "outside group tape - the listing shows why 0:0 is out of reach" "^  0:0  tape  /dev/sg0 Linux scsi_debug, $denied\$" /tmp/tester.out
expect_no_grep "outside group tape - no SRB status lines" 'SRB Command status' /tmp/tester.out
expect_count "outside group tape - nothing else on stderr but the not-found line" '^[A-Z]' /tmp/tester.out 3 3
expect_count "outside group tape - one request, refused at the node (no device status)" '^0:0 EXEC' /tmp/t-tester 1 1
expect_grep "outside group tape - the request ends as no device (130)" '^0:0 EXEC 00 .* status=130 ' /tmp/t-tester

run taper as taper 'timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/t-taper'
expect_rc "in group tape - scan exits 1 (no audio drive)" 1 "$RC"
expect_grep "in group tape - the node opens read-write" '^  0:0  tape  /dev/sg0 Linux scsi_debug, read-write OK$' /tmp/taper.out
expect_grep "in group tape - the drive is named" '^Tape drive 0:0: Linux scsi_debug, firmware 0191$' /tmp/taper.out
expect_no_grep "in group tape - no permission message" 'Permission denied' /tmp/taper.out

chmod 000 /dev/sg0
run mode000 as taper 'timeout -s KILL 60 vantrel --scan'
expect_rc "mode 000 - scan exits 1" 1 "$RC"
expect_count "mode 000 - the refusal is told once" "^TEST UNIT READY on /dev/sg0 \\(0:0:0:0\\): $denied\$" /tmp/mode000.out 1 1
expect_no_grep "mode 000 - no SRB status lines" 'SRB Command status' /tmp/mode000.out
run root000 timeout -s KILL 60 vantrel --scan
expect_grep "mode 000 as root - root passes the file mode" '^  0:0  tape  /dev/sg0 Linux scsi_debug, read-write OK$' /tmp/root000.out
chmod 0660 /dev/sg0

# The sg driver's filter: a read-only descriptor may send only some commands.
rw_ok() { command -v sg_raw && ! as taper "sg_raw /dev/sg0 $* 2>&1" | grep -q 'not permitted'; }
ro_ok() { command -v sg_raw && ! as taper "sg_raw -R /dev/sg0 $* 2>&1" | grep -q 'not permitted'; }
ro_refused() { as taper "sg_raw -R /dev/sg0 $* 2>&1" | grep -q 'Operation not permitted'; }
for c in "REWIND:01 00 00 00 00 00" "READ_BLOCK_LIMITS:05 00 00 00 00 00" "READ_POSITION:34 00 00 00 00 00 00 00 00 00" \
         "SPACE:11 00 00 00 00 00" "MODE_SELECT:15 00 00 00 00 00" "PREVENT_ALLOW:1e 00 00 00 00 00"; do
    name=${c%%:*}; cdb=${c#*:}
    check "sg refuses $name on a read-only descriptor" ro_refused "$cdb"
    check "sg lets $name through on a read-write descriptor" rw_ok "$cdb"
done
check "sg lets TEST UNIT READY through on a read-only descriptor" ro_ok 00 00 00 00 00 00
finish
