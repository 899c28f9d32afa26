#!/usr/bin/env python3
"""Sets the meter readings paced_meters logged against the edges record_edges.py found in
the sound: each burst's start must lift the left meter to -6 dBFS and the right to -20 within
LIMIT of the sound, each burst's end must bring them down to silence within LIMIT, and the
readings inside a burst must be its levels. Prints the worst lags; exit 1 on a failure."""
import math
import sys

LIMIT_NS = 100_000_000

meter_path, edges_path = sys.argv[1], sys.argv[2]
readings = []
for line in open(meter_path):
    t, left, right = line.split()
    readings.append((int(t), float(left), float(right)))
edges = [(int(t), kind) for t, kind in (line.split() for line in open(edges_path))]
if len(edges) < 6:
    sys.exit(f"compare_meters: only {len(edges)} edges in the recording")
if len(readings) < 20:
    sys.exit(f"compare_meters: only {len(readings)} meter readings")

def first_reading_after(t, pred):
    for rt, left, right in readings:
        if rt >= t - LIMIT_NS and pred(left, right):
            return rt
    return None

failures = []
lags = {"on": [], "off": []}
# Leave out the last edge: the meter may have stopped with the device's end.
# and any edge the meter's readings do not reach: the player stops feeding them at its end.
last_reading = readings[-1][0]
for t, kind in edges[:-1]:
    if t > last_reading - LIMIT_NS:
        continue
    if kind == "on":
        pred = lambda l, r: abs(l + 6) < 0.5 and abs(r + 20) < 0.5
    else:
        pred = lambda l, r: math.isinf(l) and math.isinf(r)
    rt = first_reading_after(t, pred)
    if rt is None:
        failures.append(f"no meter reading for the sound's {kind} at {t}")
        continue
    lag = rt - t
    lags[kind].append(lag)
    if abs(lag) > LIMIT_NS:
        failures.append(f"the meters followed the sound's {kind} at {t} after {lag / 1e6:.1f} ms")

# Inside every burst (50 ms clear of its edges) the readings are the burst's levels.
for (t_on, k1), (t_off, k2) in zip(edges, edges[1:]):
    if k1 != "on" or k2 != "off":
        continue
    for rt, left, right in readings:
        if t_on + 150_000_000 <= rt <= t_off - 50_000_000 and not (abs(left + 6) < 0.5 and abs(right + 20) < 0.5):
            failures.append(f"a reading inside the burst at {t_on} was {left} / {right} dBFS")
            break

for kind in ("on", "off"):
    if lags[kind]:
        print(f"compare_meters: {len(lags[kind])} {kind} edges, lag {min(lags[kind]) / 1e6:.1f} to "
              f"{max(lags[kind]) / 1e6:.1f} ms")
if failures:
    print("\n".join(failures[:10]), file=sys.stderr)
    sys.exit(1)
