# Every console routine (TEST UNIT READY, MODE SENSE and SELECT, READ BLOCK LIMITS, PREVENT
# and ALLOW, LOAD UNLOAD, READ POSITION, LOCATE by time and by program, REWIND, READ) run
# through the sg driver on the served drive sends and receives what it does on the virtual
# bus: the traces agree line for line apart from the times, and so does what is shown.
. /usr/local/lib/kernel-tests/lib.sh
. /kernel-files/tcmu.sh

cp /kernel-files/demo-instant.json /tmp/demo.json
run simroutines kernel_console_routines --simulate=/tmp/demo.json --scsi-trace=/tmp/sim.trace
expect_rc "the routines run on the virtual bus" 0 "$RC"
tcmu_start /tmp/demo.json || finish
run routines kernel_console_routines --scsi-trace=/tmp/sg.trace
expect_rc "the routines run through the sg driver" 0 "$RC"
tcmu_stop

sed 's/ t=[0-9]*$//' /tmp/sim.trace > /tmp/sim.lines
sed 's/ t=[0-9]*$//' /tmp/sg.trace > /tmp/sg.lines
same_lines "every routine's trace through the kernel equals the virtual bus's" /tmp/sim.lines /tmp/sg.lines
same_lines "every routine shows the same through the kernel" /tmp/simroutines.out /tmp/routines.out
for op in '00' '1A' '15' '05' '1E' '1B' '34 01' '2B 04 00 20' '2B 04 00 00' '01' '08'; do
    expect_grep "the trace has EXEC $op through the kernel" "EXEC $op " /tmp/sg.trace
done
echo "    LOCATEs and READs as the kernel delivered them:"
grep -m1 'EXEC 2B 04 00 20' /tmp/sg.trace | sed 's/^/    /'
grep -m1 'EXEC 2B 04 00 00 00 00 09' /tmp/sg.trace | sed 's/^/    /'
grep -m1 'EXEC 08 00 00 16 BE .*status=1' /tmp/sg.trace | sed 's/^/    /'
grep -m1 'EXEC 08 00 00 16 BE .*status=4' /tmp/sg.trace | sed 's/^/    /'
finish
