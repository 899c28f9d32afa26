#!/usr/bin/env bash
# Playback against a paced device: a PulseAudio server of its own with a null sink, a
# virtual tape of noise played to ALSA's "pulse" device (build/tests/paced_play, the deck's
# playback code), and parec recording the sink's monitor. Every frame of the tape, the last
# included, must be in the recording, bit-exact and in order.
#
#   tests/paced/pulse_playback.sh [BUILD_DIR] [SECONDS]
# Needs scripts/install-pulse.sh (pulseaudio, pulseaudio-utils, libasound2-plugins).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-build}" && pwd)"
seconds="${2:-20}"
player="$build/tests/paced_play"
[ -x "$player" ] || { echo "pulse_playback: $player is not built" >&2; exit 1; }

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

# The server, its clients and the ALSA pulse plugin find each other through these alone.
mkdir -p "$work/run"
export HOME="$work" PULSE_RUNTIME_PATH="$work/run" PULSE_SERVER="unix:$work/run/native"
unset DISPLAY XDG_RUNTIME_DIR

# As root PulseAudio needs -n (no default.pa) and the modules named. norewinds: a stream
# that starts is mixed after what the sink has already rendered, instead of rewriting it,
# which the monitor would not see again.
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
  echo "pulse_playback: $2 did not happen within 10 s" >&2
  exit 1
}
wait_for 'pactl info >/dev/null 2>&1' "the server start"

parec -d vantrel_null.monitor --format=s16le --rate=48000 --channels=2 --raw >"$work/recorded.raw" &
recorder_pid=$!
wait_for '[ -n "$(pactl list short source-outputs)" ]' "the recorder's connection"

timeout $((seconds * 3 + 30)) "$player" "$work/expected.raw" pulse "$seconds"
kill "$recorder_pid"
wait "$recorder_pid" 2>/dev/null || true
recorder_pid=""

python3 "$here/compare_recording.py" "$work/expected.raw" "$work/recorded.raw"
echo "pulse_playback: every frame of the tape arrived bit-exact and in order"
