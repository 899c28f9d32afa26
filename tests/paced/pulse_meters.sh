#!/usr/bin/env bash
# The level meters against a paced device: a PulseAudio server of its own with a null sink,
# a virtual tape of tone bursts played to ALSA's "pulse" device with the deck's meters fed
# (build/tests/paced_meters), and the sink's monitor recorded with the time each sample
# arrived. The meters must rise and fall within 100 ms of the sound, at the bursts' levels.
#
#   tests/paced/pulse_meters.sh [BUILD_DIR] [SECONDS]
# Needs scripts/install-pulse.sh (pulseaudio, pulseaudio-utils, libasound2-plugins).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
seconds="${2:-8}"
player="$build/tests/paced_meters"
[ -x "$player" ] || { echo "pulse_meters: $player is not built" >&2; exit 1; }

work="$(mktemp -d)"
server_pid=""
recorder_pid=""
cleanup() {
  [ -n "$recorder_pid" ] && kill "$recorder_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/run"
export HOME="$work" PULSE_RUNTIME_PATH="$work/run" PULSE_SERVER="unix:$work/run/native"
unset DISPLAY XDG_RUNTIME_DIR

pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false --disallow-exit \
  --use-pid-file=no --enable-memfd=no --log-target=stderr --log-level=error \
  -L "module-null-sink sink_name=vantrel_null format=s16le rate=48000 channels=2 norewinds=1" \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$work/run/native" \
  2>"$work/server.log" &
server_pid=$!

wait_for() {  # command, what: up to 10 s
  for _ in $(seq 100); do
    if eval "$1"; then return 0; fi
    kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; break; }
    sleep 0.1
  done
  echo "pulse_meters: $2 did not happen within 10 s" >&2
  exit 1
}
wait_for 'pactl info >/dev/null 2>&1' "the server start"

# A small fragment: each chunk arrives close to the time its samples were played.
python3 "$here/record_edges.py" "$work/edges.txt" \
  parec -d vantrel_null.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=10 &
recorder_pid=$!
wait_for '[ -n "$(pactl list short source-outputs)" ]' "the recorder's connection"

timeout $((seconds * 3 + 30)) "$player" "$work/meters.log" pulse "$seconds"
# The recorder keeps the last burst's end; then parec is stopped and the edges written.
pkill -INT -P "$recorder_pid" parec || true
wait "$recorder_pid" 2>/dev/null || true
recorder_pid=""

python3 "$here/compare_meters.py" "$work/meters.log" "$work/edges.txt"
echo "pulse_meters: the meters followed every burst within 100 ms"
