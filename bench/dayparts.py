#!/usr/bin/env python3
"""What a daypart's start sounds like, from a recording of raw s16le stereo 44.1 kHz samples.

    dayparts.py FILE BOUNDARY_S [--before HZ] [--after HZ]

BOUNDARY_S is where in the recording the program's clock reached the daypart's start. The music
before it is a tone of --before Hz (400), the next daypart's a tone of --after Hz (800). Prints, in
milliseconds from the boundary: when the first tone last played at half its level or more, when
the second was first heard at half its level; where the first tone's level fell below 90 % and
below 5 % of its level before the boundary (a fade); the longest silence (both channels within
100 of 32767) after the first sound; and where the level of the tone playing fell below 97 % and
reached its lowest (a change of level). A dropout after the boundary counts as a fall: read the
figures from a quiet machine, or keep the recording (KEEP_RECORDING) and look.
"""
import argparse
import array
import math

from silences import RATE, WINDOW, levels


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("boundary", type=float)
    parser.add_argument("--before", type=float, default=400)
    parser.add_argument("--after", type=float, default=800)
    args = parser.parse_args()
    samples = array.array("h")
    with open(args.file, "rb") as f:
        samples.frombytes(f.read())
    left = samples[0::2]
    at = int(args.boundary * 100)  # window of the boundary
    before, after = levels(left, args.before), levels(left, args.after)
    full = sorted(before[max(0, at - 150):at - 20])[len(before[max(0, at - 150):at - 20]) // 2]
    ms = lambda window: (window - at) * 10 if window is not None else None
    last_before = max((i for i, v in enumerate(before) if v >= full / 2), default=None)
    first_after = next((i for i, v in enumerate(after) if i > at and v >= full / 2), None)
    below90 = next((i for i in range(at, len(before)) if before[i] < 0.9 * full), None)
    below5 = next((i for i in range(at, len(before)) if before[i] < 0.05 * full), None)
    first_sound = next(i for i in range(len(left)) if abs(left[i]) > 100)
    longest = quiet = where = 0
    # Up to 300 ms before the music's last window at half its level: the program's end is no change.
    last_heard = max(i for i in range(len(before)) if max(before[i], after[i]) >= full / 2)
    for frame in range(first_sound, (last_heard - 30) * WINDOW):
        quiet = quiet + 1 if abs(samples[2 * frame]) <= 100 and abs(samples[2 * frame + 1]) <= 100 else 0
        if quiet > longest:
            longest, where = quiet, frame - quiet + 1
    tone = before if first_after is None else after
    ref = full if tone is before else sorted(after[first_after:first_after + 100])[50]
    start = at if tone is before else first_after + 100
    fall = next((i for i in range(start, len(tone)) if tone[i] < 0.97 * ref), None)
    lowest = min(range(start, len(tone) - 50), key=lambda i: tone[i]) if len(tone) - 50 > start else None
    print("tone before: last at half %s ms, below 90%% %s ms, below 5%% %s ms; tone after: first at "
          "half %s ms; longest silence %.1f ms at %d ms; level: falls below 97%% %s ms, lowest %s ms (%.0f%%)"
          % (ms(last_before), ms(below90), ms(below5), ms(first_after), longest * 1000 / RATE,
             where * 1000 // RATE - at * 10,
             ms(fall), ms(lowest), 100 * tone[lowest] / ref if lowest is not None else float("nan")))


if __name__ == "__main__":
    main()
