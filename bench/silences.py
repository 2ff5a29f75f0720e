#!/usr/bin/env python3
"""Finds the silences inside a recording of raw s16le stereo 44.1 kHz samples (as parec writes them).

    silences.py FILE [--threshold N] [--min-ms M] [--edge-ms E] [--json]

Prints one line per silence between two stretches of sound: where it starts and how long it lasts,
in milliseconds. Silence before the first sound and after the last is not counted, nor any within E ms (default 0)
of them: the stream's start and the program's end are not track changes. A sample is
silent when both channels are within the threshold of zero (default 100 of 32767, about -50 dBFS).
"""
import argparse
import array
import json
import math
import sys

RATE = 44100
WINDOW = 441  # 10 ms


def read_samples(path):
    """The interleaved samples of a raw s16le recording."""
    samples = array.array("h")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def levels(left, hz):
    """The tone's amplitude in each 10 ms window (Goertzel), as a share of full scale."""
    k = 2 * math.cos(2 * math.pi * hz / RATE)
    out = []
    for start in range(0, len(left) - WINDOW, WINDOW):
        s1 = s2 = 0.0
        for x in left[start:start + WINDOW]:
            s1, s2 = x + k * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - k * s1 * s2
        out.append(2 * math.sqrt(max(power, 0)) / WINDOW / 32767)
    return out


def silences(samples, threshold, min_frames):
    """Yields (first silent frame, frame count) of each silence of at least min_frames frames."""
    frames = len(samples) // 2
    last_loud = None
    for frame in range(frames):
        left, right = samples[2 * frame], samples[2 * frame + 1]
        if abs(left) > threshold or abs(right) > threshold:
            if last_loud is not None and frame - last_loud - 1 >= min_frames:
                yield last_loud + 1, frame - last_loud - 1
            last_loud = frame


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--threshold", type=int, default=100)
    parser.add_argument("--min-ms", type=float, default=1.0)
    parser.add_argument("--edge-ms", type=float, default=0.0)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    samples = read_samples(args.file)
    loud = [i // 2 for i, sample in enumerate(samples) if abs(sample) > args.threshold]
    edge = args.edge_ms * RATE / 1000
    found = [
        {"at_ms": round(start * 1000 / RATE, 1), "ms": round(count * 1000 / RATE, 1)}
        for start, count in silences(samples, args.threshold, int(args.min_ms * RATE / 1000))
        if loud[0] + edge <= start and start + count + edge <= loud[-1]
    ]
    if args.json:
        print(json.dumps(found))
    else:
        for s in found:
            print(f"silence at {s['at_ms']:9.1f} ms: {s['ms']:8.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
