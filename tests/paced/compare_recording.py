#!/usr/bin/env python3
"""Checks that a recording of a sound server's monitor holds the tape's audio, in order and
bit-exact, to the last frame; only a few milliseconds at the very start of the stream may be
missing. Prints the figures; exits 1 when the recording falls short.

    compare_recording.py EXPECTED.raw RECORDED.raw [MAX_START_LOSS_MS]
"""
import sys

FRAME = 5760          # bytes of one 48 kHz frame (30 ms)
PAIR = 4              # bytes of one stereo sample pair
RATE = 48000


def main():
    expected = open(sys.argv[1], "rb").read()
    recorded = open(sys.argv[2], "rb").read()
    max_loss_ms = float(sys.argv[3]) if len(sys.argv) > 3 else 20.0
    frames = len(expected) // FRAME

    # Noise: 64 bytes from the middle of the tape occur once, where the tape's audio is.
    probe_at = (len(expected) // 2) // PAIR * PAIR
    found = recorded.find(expected[probe_at:probe_at + 64])
    if found < 0:
        print(f"tape frames {frames}, frames recorded 0: the tape's audio is not in the recording")
        return 1
    offset = found - probe_at  # recorded index of expected byte 0
    if offset % PAIR:
        print(f"the recording is not aligned to sample pairs (offset {offset})")
        return 1

    # From the end back: the tape's bytes must all be there, in order, up to the last one;
    # only a start may be missing (or be something else, such as silence).
    end = offset + len(expected)
    if end > len(recorded):
        print(f"tape frames {frames}: the recording ends {(end - len(recorded)) // PAIR} pairs "
              f"before the tape's last byte")
        return 1
    k = len(expected)
    while k > 0 and offset + k - 1 >= 0 and recorded[offset + k - 1] == expected[k - 1]:
        k -= 1
    lost = (k + PAIR - 1) // PAIR * PAIR  # bytes at the start of the tape not in the recording
    lost_ms = lost / PAIR / RATE * 1000
    whole = sum(1 for n in range(frames) if n * FRAME >= lost)
    print(f"tape frames {frames}, frames recorded bit-exact {whole}, "
          f"lost at the start {lost // PAIR} pairs ({lost_ms:.1f} ms), "
          f"bytes in order {len(expected) - lost} of {len(expected)}")
    if lost_ms > max_loss_ms:
        print(f"the recording differs from the tape before byte {lost} (frame {lost // FRAME} of {frames}); "
              f"more than {max_loss_ms} ms missing at the start")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
