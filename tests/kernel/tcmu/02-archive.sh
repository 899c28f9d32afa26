# --archive through the kernel of a tape with injected faults (frames that fail and are
# skipped, a frame read on the third try, a concealed frame) gives the package and report
# that --simulate gives for the same drive.
. /usr/local/lib/kernel-tests/lib.sh
. /kernel-files/tcmu.sh

make_noise /tmp/side-a.wav 300
make_noise /tmp/side-b.wav 200
cat > /tmp/faults.json <<'JSON'
{"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": ["/tmp/side-a.wav", "/tmp/side-b.wav"],
  "recording_date": "1994-06-18 20:15:00", "medium_errors": [120, 121], "retry_errors": {"380": 2},
  "concealed": [450]}]}]}
JSON

run simarchive vantrel --simulate=/tmp/faults.json --archive=/tmp/a-sim
expect_rc "--archive on the virtual bus: complete, frames unreadable" 3 "$RC"
tcmu_start /tmp/faults.json || finish
run archive vantrel --archive=/tmp/a-sg --scsi-trace=/tmp/archive.trace
expect_rc "--archive through the kernel: complete, frames unreadable" 3 "$RC"
tcmu_stop

expect_grep "the date pack of 1994 is kept" '^0,.*,1994-06-18 20:15:00,' /tmp/a-sg/data/subcode.csv
for f in tape.dat 001.wav 002.wav subcode.csv; do
    check "data/$f is the same through the kernel" cmp /tmp/a-sim/data/$f /tmp/a-sg/data/$f
done
# The run's dates and speed are the only lines allowed to differ (and so the report's size).
grep -vE '^(Run|Read speed):' /tmp/a-sim/data/report.txt > /tmp/report-sim.txt
grep -vE '^(Run|Read speed):' /tmp/a-sg/data/report.txt > /tmp/report-sg.txt
same_lines "the report is the same through the kernel" /tmp/report-sim.txt /tmp/report-sg.txt
expect_grep "the report lists the unreadable frames" '^  Unreadable: 2 frames' /tmp/report-sg.txt
expect_grep "the report lists the frame read after failed tries" '^  Read after failed tries: 1 frames' /tmp/report-sg.txt
expect_grep "the report lists the concealed frame" '^  Concealed: 1 frames' /tmp/report-sg.txt
grep -vE '^(Bagging-Date|Payload-Oxum):' /tmp/a-sim/bag-info.txt > /tmp/bag-sim.txt
grep -vE '^(Bagging-Date|Payload-Oxum):' /tmp/a-sg/bag-info.txt > /tmp/bag-sg.txt
same_lines "bag-info.txt is the same through the kernel" /tmp/bag-sim.txt /tmp/bag-sg.txt
check "the package's manifest checks" sh -c 'cd /tmp/a-sg && sha256sum -c manifest-sha256.txt'
sed 's/^/    /' /tmp/report-sg.txt
finish
