# --record through the kernel: two 44.1 kHz files onto a blank cassette served to the kernel,
# every WRITE going out through sg as data out, the read-back clean, and the tape it leaves
# and the commands it sends the same as on the virtual bus.
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
finish
