# A long-play tape (32 kHz, 12-bit codes packed in layout b, 60 ms frames) served to the
# kernel: --capture through sg finds the layout from the sound, writes every sample expanded
# from its code, and sends and receives what it does on the virtual bus, line for line.
. /usr/local/lib/kernel-tests/lib.sh
. /kernel-files/tcmu.sh

# Two programs of 150 frames (9 s each) of sweep and pink noise; busybox has no sox.
run source kernel_lp_source /tmp 150 2
expect_rc "the 32 kHz source is written" 0 "$RC"
echo '{"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": ["lp-1.wav", "lp-2.wav"], "long_play": true, "lp_layout": "b"}]}]}' > /tmp/lp.json

tcmu_start /tmp/lp.json || finish
run capture vantrel --capture=/tmp/capture.wav --scsi-trace=/tmp/capture.trace
expect_rc "--capture of the long-play tape through the kernel is clean" 0 "$RC"
check "every sample is the source expanded from its 12-bit code" cmp /tmp/lp-expanded.wav /tmp/capture.wav
expect_grep "the summary names the long-play tape" 'Tape: 32 KHz LP, no emphasis, programs 1-2' /tmp/capture.out
expect_grep "the summary names the layout found from the sound" 'Long play, 12-bit samples written as 16-bit, layout b \(found: ' /tmp/capture.out
expect_grep "the summary says how the time code ran" 'one code frame per 60 ms frame' /tmp/capture.out
expect_no_grep "no READ failed" 'EXEC 08 .*status=[^1]' /tmp/capture.trace
tcmu_stop

# The same capture on the virtual bus: the same WAV, the same commands with the same answers.
run simcapture vantrel --simulate=/tmp/lp.json --capture=/tmp/sim.wav --scsi-trace=/tmp/sim.trace
expect_rc "--capture on the virtual bus is clean" 0 "$RC"
check "the kernel's capture equals the virtual bus's" cmp /tmp/sim.wav /tmp/capture.wav
sed 's/ t=[0-9]*$//' /tmp/capture.trace > /tmp/capture.lines
sed 's/ t=[0-9]*$//' /tmp/sim.trace > /tmp/sim.lines
same_lines "--capture's trace through the kernel equals the virtual bus's" /tmp/sim.lines /tmp/capture.lines
grep -E '^(Tape|Long play)' /tmp/simcapture.out > /tmp/sim.summary
grep -E '^(Tape|Long play)' /tmp/capture.out > /tmp/capture.summary
same_lines "the summary's tape and layout lines equal the virtual bus's" /tmp/sim.summary /tmp/capture.summary
echo "    READs: $(grep -c 'EXEC 08' /tmp/capture.trace); the last two as the kernel delivered them:"
grep 'EXEC 08' /tmp/capture.trace | tail -2 | sed 's/^/    /'
finish
