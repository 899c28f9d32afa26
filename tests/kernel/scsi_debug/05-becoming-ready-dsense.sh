# A drive that is still becoming ready (NOT READY 04/01 for 6 s after it appears) and
# answers in descriptor-format sense (dsense=1). --scan reports what it finds at once;
# --capture repeats discovery, saying what it waits for, until the drive is ready.
. /usr/local/lib/kernel-tests/lib.sh
ready_ms=6000
t_mod=$(now)
modprobe sg
modprobe scsi_debug ptype=1 num_tgts=1 tur_ms_to_ready=$ready_ms dsense=1

run scan timeout -s KILL 60 vantrel --scan --scsi-trace=/tmp/trace
show /tmp/trace
expect_rc "scan exits 1 at once - no drive ready" 1 "$RC"
expect_between "scan does not wait for the drive" "$SECS" 0 5
expect_grep "NOT READY 04/01 reaches the program" '^0:0 EXEC 00 .* status=4 sense=[7F]0 00 02 .* 04 01 ' /tmp/trace
expect_no_grep "descriptor sense is turned into fixed format" 'sense=7[23] ' /tmp/trace

run capture timeout -s KILL 90 vantrel --capture=/tmp/x.wav --scsi-trace=/tmp/trace2
grep -v 'GET_DEV_TYPE status=130' /tmp/trace2 | sed -n '1,12p;$p' > /tmp/trace2.short
show /tmp/trace2.short "trace of --capture (start and end)"
ended=$(since "$t_mod")
expect_count "capture says once what it waits for" '^Waiting for the tape drive at 0:0 to become ready \(up to a minute\)\.\.\.$' /tmp/capture.out 1 1
expect_between "capture waits until the drive is ready (s after it appeared)" "$ended" $((ready_ms / 1000 - 1)) $((ready_ms / 1000 + 6))
expect_count "capture repeats discovery while it waits" '^0 HA_INQUIRY' /tmp/trace2 3 30
expect_grep "capture's last TEST UNIT READY finds the drive ready" '^0:0 EXEC 00 00 00 00 00 00 flags=00 len=0 status=1 ' /tmp/trace2
expect_rc "capture then exits 1 - the drive is no audio drive" 1 "$RC"
expect_grep "capture ends with the not-found message" '^An audio-capable tape drive was not found\. Program will exit\.$' /tmp/capture.out

check "sg_turs agrees the drive is ready now" sg_turs /dev/sg0

# --archive waits alike: the drive replaced by a new one that is becoming ready.
echo 1 > /sys/bus/scsi/devices/0:0:0:0/delete
t_new=$(now)
echo 1 > /sys/bus/pseudo/drivers/scsi_debug/add_host
for i in $(seq 1 20); do [ -e /sys/bus/scsi/devices/1:0:0:0/scsi_generic ] && break; sleep 0.25; done
run archive timeout -s KILL 90 vantrel --archive=/tmp/pkg --scsi-trace=/tmp/trace3
ended=$(since "$t_new")
expect_count "archive says once what it waits for" '^Waiting for the tape drive at 0:0 to become ready \(up to a minute\)\.\.\.$' /tmp/archive.out 1 1
expect_between "archive waits until the drive is ready (s after it appeared)" "$ended" $((ready_ms / 1000 - 1)) $((ready_ms / 1000 + 6))
expect_rc "archive then exits 1 - the drive is no audio drive" 1 "$RC"
finish
