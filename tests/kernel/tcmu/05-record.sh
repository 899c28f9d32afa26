# --record through the kernel: two 44.1 kHz files onto a blank cassette served to the kernel,
# every WRITE going out through sg as data out, the read-back clean, and the tape it leaves
# and the commands it sends the same as on the virtual bus; then cassettes that refuse frames.
. /usr/local/lib/kernel-tests/lib.sh
. /kernel-files/tcmu.sh

# 100 frames less 7 pairs (the last frame padded with silence) and 60 frames of 1323 pairs:
# with the lead-in and lead-out, 560 frames on the tape.
make_wav /tmp/a.wav 44100 $((100 * 1323 - 7))
make_wav /tmp/b.wav 44100 $((60 * 1323))
frames=560
blank() { echo '{"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "blank", "length_minutes": 1, "save_tape": "'$1'"}]}]}'; }
blank /tmp/kernel.dat > /tmp/kernel.json
blank /tmp/sim.dat > /tmp/sim.json
record="--record=/tmp/a.wav --record=/tmp/b.wav --date=2026-12-10T09:30:00"

tcmu_start /tmp/kernel.json || finish
run record vantrel $record --scsi-trace=/tmp/record.trace
expect_rc "--record through the kernel ends clean" 0 "$RC"
expect_grep "it records both programs" '^Recorded 2 programs up to absolute time' /tmp/record.out
expect_grep "and reads every frame back as written" "^Verified: all $frames frames read back as written" /tmp/record.out
# flags=10: the request's data goes out (the record's direction flag).
expect_count "every frame goes out in one WRITE, as data out, and succeeds" \
    '^0:4 EXEC 0A 00 00 16 BE 00 flags=10 len=5822 status=1 ' /tmp/record.trace $frames $frames
expect_count "and there is no other WRITE" 'EXEC 0A ' /tmp/record.trace $frames $frames
expect_count "the blank tape answers the first READ with BLANK CHECK, the verify's READs all succeed" \
    'EXEC 08 .*status=1 |EXEC 08 .*status=4 sense=F0 00 08 ' /tmp/record.trace $((frames + 1)) $((frames + 1))
expect_count "and only the first READ fails" 'EXEC 08 .*status=[^1]' /tmp/record.trace 1 1
tcmu_stop
check "the served drive saves the written tape when it stops" [ "$(wc -c < /tmp/kernel.dat)" = $((frames * 5822)) ]

# The same recording on the virtual bus: the same tape, the same commands with the same answers.
run simrecord vantrel --simulate=/tmp/sim.json $record --scsi-trace=/tmp/sim.trace
expect_rc "--record on the virtual bus ends clean" 0 "$RC"
check "the tape recorded through the kernel equals the virtual bus's" cmp /tmp/sim.dat /tmp/kernel.dat
sed 's/ t=[0-9]*$//' /tmp/record.trace > /tmp/record.lines
sed 's/ t=[0-9]*$//' /tmp/sim.trace > /tmp/sim.lines
same_lines "--record's trace through the kernel equals the virtual bus's" /tmp/sim.lines /tmp/record.lines
echo "    WRITEs: $(grep -c 'EXEC 0A' /tmp/record.trace), READs: $(grep -c 'EXEC 08' /tmp/record.trace); the first WRITE and the last READ:"
grep 'EXEC 0A' /tmp/record.trace | head -1 | sed 's/^/    /'
grep 'EXEC 08' /tmp/record.trace | tail -1 | sed 's/^/    /'

# Cassettes that refuse frames: the failure's sense comes back through the kernel as on the
# virtual bus, the program says so and exits 1, and the drive keeps what was written.
refusing() {
    # (lib.sh's check keeps its own _name: these names are the case's own.)
    _case=$1; _ckeys=$2; _cwhat=$3
    for _cside in kernel sim; do
        echo '{"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "blank", '"$_ckeys"', "save_tape": "/tmp/'$_case-$_cside'.dat"}]}]}' > /tmp/$_case-$_cside.json
    done
    tcmu_start /tmp/$_case-kernel.json || return
    run $_case-kernel vantrel $record --scsi-trace=/tmp/$_case-kernel.trace
    expect_rc "$_cwhat through the kernel ends in failure" 1 "$RC"
    tcmu_stop
    run $_case-sim vantrel --simulate=/tmp/$_case-sim.json $record --scsi-trace=/tmp/$_case-sim.trace
    expect_rc "$_cwhat on the virtual bus ends in failure" 1 "$RC"
    grep '^vantrel:' /tmp/$_case-kernel.out > /tmp/$_case-kernel.said
    grep '^vantrel:' /tmp/$_case-sim.out > /tmp/$_case-sim.said
    check "$_cwhat is said (through the kernel)" [ -s /tmp/$_case-kernel.said ]
    same_lines "$_cwhat is said as on the virtual bus" /tmp/$_case-sim.said /tmp/$_case-kernel.said
    check "$_cwhat leaves the tape the virtual bus leaves" cmp /tmp/$_case-sim.dat /tmp/$_case-kernel.dat
    sed 's/ t=[0-9]*$//' /tmp/$_case-kernel.trace > /tmp/$_case-kernel.lines
    sed 's/ t=[0-9]*$//' /tmp/$_case-sim.trace > /tmp/$_case-sim.lines
    same_lines "$_cwhat gives the virtual bus's trace" /tmp/$_case-sim.lines /tmp/$_case-kernel.lines
}
# MEDIUM ERROR 0C/00 at frame 150, in program 1: 150 frames stay on the tape.
refusing werr '"write_errors": [150]' "a write error"
expect_grep "the write error names the place and the sense" 'The write of program 1 at 0:00:01 failed \(MEDIUM ERROR, write error \(0C/00\)\)' /tmp/werr-kernel.out
check "the frames before the write error are kept" [ "$(wc -c < /tmp/werr-kernel.dat)" = $((150 * 5822)) ]
# A 15-second cassette (500 frames): VOLUME OVERFLOW in the lead-out.
refusing full '"length_minutes": 0.25' "the cassette's end"
expect_grep "the cassette's end is named, with the programs all on the tape" \
    'The write of the lead-out failed \(VOLUME OVERFLOW.*\); the programs were written up to absolute time 0:00:04, but the lead-out ends after 240 of its 300 frames' /tmp/full-kernel.out
check "the cassette holds its 500 frames" [ "$(wc -c < /tmp/full-kernel.dat)" = $((500 * 5822)) ]
# MODE SENSE's write-protect bit: nothing is sent to be written.
refusing wp '"write_protected": true' "a write-protected cassette"
expect_count "a write-protected cassette gets no WRITE" 'EXEC 0A ' /tmp/wp-kernel.trace 0 0
finish
