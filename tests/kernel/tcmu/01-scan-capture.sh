# The virtual drive served to the kernel (TCMU behind tcm_loop): the kernel shows a tape
# device with the drive's INQUIRY identity, --scan selects it through sg, and --capture of a
# noise tape is bit-exact against its source with the same SCSI traffic as on the virtual bus.
. /usr/local/lib/kernel-tests/lib.sh
. /kernel-files/tcmu.sh

make_noise /tmp/noise.wav 500
echo '{"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "/tmp/noise.wav"}]}]}' > /tmp/noise.json

# Before the target modules are loaded: a message that says which to load.
run nomodules vantrel-tcmu-drive /tmp/noise.json
expect_rc "without the target modules vantrel-tcmu-drive fails" 1 "$RC"
expect_grep "and says which modules to load" 'modprobe target_core_user tcm_loop' /tmp/nomodules.out

tcmu_start /tmp/noise.json || finish
run second vantrel-tcmu-drive /tmp/noise.json
expect_rc "a second vantrel-tcmu-drive is refused" 1 "$RC"
expect_grep "and names what is in the way" 'vantrel_dat already exists' /tmp/second.out
dev=/sys/bus/scsi/devices/$TCMU_ADDR
check "the kernel shows a tape device (type 1)" [ "$(cat $dev/type)" = 1 ]
check "its INQUIRY vendor reaches sysfs" grep -q '^VANTREL' $dev/vendor
check "its INQUIRY product reaches sysfs" grep -q '^VIRTUAL DAT' $dev/model
check "its INQUIRY revision reaches sysfs" grep -q '^1.0' $dev/rev
check "it has an sg node" [ -c "$TCMU_SG" ]
scsi-show

run scan vantrel --scan --scsi-trace=/tmp/scan.trace
expect_rc "--scan succeeds" 0 "$RC"
expect_grep "--scan selects the served drive" '^Selected drive: 0:4$' /tmp/scan.out
expect_grep "--scan lists it with its sg node" "^  0:4 +tape +$TCMU_SG VANTREL VIRTUAL DAT" /tmp/scan.out
expect_grep "--scan names it from INQUIRY" '^Tape drive 0:4: VANTREL VIRTUAL DAT, firmware 1.0$' /tmp/scan.out
expect_grep "--scan knows it for an audio drive" "virtual audio DAT drive" /tmp/scan.out
expect_grep "the probe's MODE SELECT passes through the kernel" 'EXEC 15 .*status=1 out=00 00 10 08 80' /tmp/scan.trace

# A fresh drive for the capture, so its power-on attention comes as on a fresh virtual bus.
tcmu_stop
tcmu_start /tmp/noise.json || finish
run capture vantrel --capture=/tmp/capture.wav --scsi-trace=/tmp/capture.trace
expect_rc "--capture through the kernel is clean" 0 "$RC"
check "--capture is bit-exact against its source" cmp /tmp/noise.wav /tmp/capture.wav
expect_no_grep "no READ failed" 'EXEC 08 .*status=[^1]' /tmp/capture.trace
tcmu_stop

# The same capture on the virtual bus: the same commands with the same answers.
run simcapture vantrel --simulate=/tmp/noise.json --capture=/tmp/sim.wav --scsi-trace=/tmp/sim.trace
expect_rc "--capture on the virtual bus is clean" 0 "$RC"
sed 's/ t=[0-9]*$//' /tmp/capture.trace > /tmp/capture.lines
sed 's/ t=[0-9]*$//' /tmp/sim.trace > /tmp/sim.lines
same_lines "--capture's trace through the kernel equals the virtual bus's" /tmp/sim.lines /tmp/capture.lines
echo "    READs: $(grep -c 'EXEC 08' /tmp/capture.trace); the last two as the kernel delivered them:"
grep 'EXEC 08' /tmp/capture.trace | tail -2 | sed 's/^/    /'
finish
