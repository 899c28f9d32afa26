#!/usr/bin/env python3
"""Records a sound server's monitor through parec (the command line given) and writes when,
on the steady clock (CLOCK_MONOTONIC, in nanoseconds), the left channel's sound started and
stopped: one line per edge, "NANOSECONDS on|off". Runs until parec ends.

Each chunk's samples are placed on the clock by the stream's own rate: the stream starts at
the earliest of (arrival of a chunk - duration of everything up to its end), since no chunk
can arrive before its last sample was played."""
import os
import subprocess
import sys
import time

RATE = 48000
THRESHOLD = 1000  # about -30 dBFS: well below the bursts, well above silence

out_path = sys.argv[1]
parec = subprocess.Popen(sys.argv[2:], stdout=subprocess.PIPE)
fd = parec.stdout.fileno()
data = bytearray()
start = None
while True:
    chunk = os.read(fd, 65536)
    arrived = time.monotonic_ns()
    if not chunk:
        break
    data += chunk
    frames = len(data) // 4
    candidate = arrived - frames * 1_000_000_000 // RATE
    start = candidate if start is None else min(start, candidate)
parec.wait()

edges = []
on = False
for i in range(len(data) // 4):
    left = int.from_bytes(data[4 * i:4 * i + 2], "little", signed=True)
    if not on and abs(left) > THRESHOLD:
        on = True
        edges.append((i, "on"))
    elif on and left == 0:
        # A square wave passes no zero inside a burst: the first zero sample ends it.
        on = False
        edges.append((i, "off"))
with open(out_path, "w") as f:
    for i, kind in edges:
        f.write(f"{start + i * 1_000_000_000 // RATE} {kind}\n")
