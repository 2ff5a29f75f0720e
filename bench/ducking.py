#!/usr/bin/env python3
"""Measures, in a recording of raw s16le stereo 44.1 kHz samples, how the music (a 400 Hz tone) is
faded around each message (a 1200 Hz tone), as duck_order.sh plays them.

    ducking.py FILE [--json]

Both tones are followed in 10 ms Hann windows every 5 ms. For each message it prints where it
starts, the music's level there (in per cent of the music's full level), how long the fade down
took as heard, and how long before the message it ended (negative: the message started over music
that was still coming down). Then how soon after the message the music was back at full level.
"""
import argparse
import json
import math
import statistics
import sys

from silences import read_samples

RATE = 44100
WINDOW = 441  # 10 ms: 400 Hz and 1200 Hz fall on its bins, so neither leaks into the other
HOP = 220
MUSIC_HZ, MESSAGE_HZ = 400, 1200


def amplitudes(samples, hz):
    """The tone's amplitude in each window (left channel)."""
    hann = [0.5 - 0.5 * math.cos(2 * math.pi * i / (WINDOW - 1)) for i in range(WINDOW)]
    cos_t = [math.cos(2 * math.pi * hz * i / RATE) * hann[i] for i in range(WINDOW)]
    sin_t = [math.sin(2 * math.pi * hz * i / RATE) * hann[i] for i in range(WINDOW)]
    left = samples[0::2]
    out = []
    for start in range(0, len(left) - WINDOW, HOP):
        chunk = left[start:start + WINDOW]
        re = sum(c * s for c, s in zip(cos_t, chunk))
        im = sum(c * s for c, s in zip(sin_t, chunk))
        out.append(2 * math.hypot(re, im) / sum(hann))
    return out


def ms(window):
    return window * HOP * 1000 / RATE


def analyse(music, message):
    loud = [a for a in message if a > 0]
    if not loud or max(message) < 200:
        return []
    on = max(message) / 2
    # The music's full level: where it plays above half its loudest, most of the time
    full = statistics.median([a for a in music if a > max(music) / 2])
    found = []
    i = 0
    while i < len(message):
        if message[i] < on:
            i += 1
            continue
        onset = i
        while i < len(message) and message[i] >= on:
            i += 1
        end = i
        low_at_onset = statistics.median(music[max(0, onset - 4):onset + 1]) / full
        # The fade as heard: from the last window at full level to the first at the message's level
        start = onset
        while start > 0 and music[start] < 0.95 * full:
            start -= 1
        low = statistics.median(music[onset + 10:onset + 30]) if end - onset > 40 else music[onset]
        reached = start
        while reached < end and music[reached] > low * 1.1 + 0.01 * full:
            reached += 1
        back = end
        while back < len(music) and music[back] < 0.95 * full:
            back += 1
        found.append({
            "at_ms": round(ms(onset)),
            "music_at_message_pct": round(100 * low_at_onset, 1),
            "fade_down_ms": round(ms(reached - start)),
            "fade_ended_before_message_ms": round(ms(onset - reached)),
            "back_up_after_message_ms": round(ms(back - end)) if back < len(music) else None,
        })
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    samples = read_samples(args.file)
    found = analyse(amplitudes(samples, MUSIC_HZ), amplitudes(samples, MESSAGE_HZ))
    if args.json:
        print(json.dumps(found))
    else:
        for m in found:
            print(m)
    return 0


if __name__ == "__main__":
    sys.exit(main())
