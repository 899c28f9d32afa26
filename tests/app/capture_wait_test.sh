#!/bin/bash
# vantrel --capture and --archive on the virtual bus, against a drive whose tape is still
# becoming ready: discovery is repeated until the drive answers, and Ctrl-C ends the wait.
# Usage: capture_wait_test.sh VANTREL
set -u
vantrel=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL ($what): $*"; echo "--- output:"; cat "$dir/out" 2>/dev/null; exit 1; }

bus() {  # bus.json with a data tape that becomes ready $1 s after power-on
    printf '{"read_speed": 2, "adapters": [{"devices": [{"target": 4, "tape": "data", "becoming_ready_s": %s, "ready_at_power_on": false}]}]}\n' "$1" >"$dir/bus.json"
}

for what in capture archive; do
rm -rf "$dir/x.wav" "$dir/pkg"
if [ $what = capture ]; then mode=--capture="$dir/x.wav" refused="a data tape cannot be captured"
else mode=--archive="$dir/pkg" refused="a data tape cannot be archived"; fi

# 1. Ready after 2 s: discovery waits for it instead of "not found"; the data tape is refused.
bus 2
(cd "$dir" && timeout 120 "$vantrel" --simulate="$dir/bus.json" "$mode") >"$dir/out" 2>&1
rc=$?
[ $rc -eq 1 ] || fail "exit status $rc, expected 1"
grep -q "Waiting for the tape drive at 0:4 to become ready" "$dir/out" || fail "no waiting line"
grep -q "was not found" "$dir/out" && fail "gave up on a drive becoming ready"
grep -q "$refused" "$dir/out" || fail "the drive was not found after the wait"

# 2. Never ready within the test: Ctrl-C while waiting ends it, with its message.
bus 3600
coproc V { cd "$dir" && exec "$vantrel" --simulate="$dir/bus.json" "$mode" 2>&1; }
pid=$V_PID
exec 3<&"${V[0]}"
IFS= read -r -t 60 first <&3 || { kill -KILL "$pid"; fail "no output"; }
echo "$first" >"$dir/out"
case $first in *"Waiting for the tape drive at 0:4"*) ;; *) kill -KILL "$pid"; fail "unexpected first line";; esac
kill -INT "$pid"
cat <&3 >>"$dir/out"
wait "$pid"
rc=$?
exec 3<&-
[ $rc -eq 1 ] || fail "exit status $rc after Ctrl-C, expected 1"
grep -q "interrupted before the $what began" "$dir/out" || fail "no interruption message"
grep -q "was not found" "$dir/out" && fail "discovery went on after Ctrl-C"
[ -e "$dir/x.wav" ] && fail "a file was written"
[ -e "$dir/pkg/bagit.txt" ] && fail "a package was written"
done
echo "ok"
