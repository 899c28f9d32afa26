# What a failed data-in command leaves in the caller's buffer through sg: with indirect I/O
# the driver copies its whole reserve buffer back whatever the outcome, so the caller sees
# zeros or an earlier command's bytes. Shown with the sg-stale probe; then the program's
# trace must show data-in bytes only for commands that delivered them.
. /usr/local/lib/kernel-tests/lib.sh
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=1
sg_turs /dev/sg0 > /dev/null 2>&1   # take the power-on unit attention

if command -v sg-stale > /dev/null; then
    sg-stale /dev/sg0 > /tmp/stale.txt 2>&1
    show /tmp/stale.txt "sg-stale /dev/sg0"
    # The kernel's behaviour the program must guard against (a premise, not the program).
    check "kernel - a refused MODE SELECT's bytes turn up in the next failed data-in buffer" \
        sh -c "grep -A1 'READ POSITION (after MODE SELECT)' /tmp/stale.txt | grep -q 'buffer after: A1 A2 10 08 80 A5'"
else
    echo "### sg-stale was not built (no C compiler on the host): the kernel's side is not shown"
fi

run scan timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/trace
grep -E 'EXEC (1A|15|34|05)' /tmp/trace > /tmp/trace.short
show /tmp/trace.short "the program's MODE SENSE, MODE SELECT, READ POSITION, READ BLOCK LIMITS"
expect_count "MODE SENSE after a refused MODE SELECT is refused too" '^0:0 EXEC 1A .* status=4 ' /tmp/trace 2 20
expect_no_grep "a failed MODE SENSE or READ POSITION shows no data-in bytes" '^0:0 EXEC (1A|34|05) .* status=[^1] .*in=' /tmp/trace
expect_no_grep "no failed command at all shows data-in bytes" '^[0-9]+:[0-9]+ EXEC .* status=([02-9]|[1-9][0-9]+) .*in=' /tmp/trace
expect_grep "a successful INQUIRY still shows its bytes" '^0:0 EXEC 12 .* status=1 in=01 00 ' /tmp/trace
finish
