#!/usr/bin/env python3
"""How late a level change and a message's start are heard: the commands' times from the
program's command log, set against a recording of raw s16le stereo 44.1 kHz samples of a 400 Hz
music tone faded down under 1200 Hz messages, as level_delay.sh makes them.

    level_delay.py RECORDING LOG END_TIME [--json]

END_TIME is the wall-clock time (seconds since the epoch) at which the recording stopped: its last
sample is taken as played then, which places every other sample. For each fade down it prints how
late the music was heard at 90, 70 and 50 per cent of its full level after the command that set
that level was sent; and for each message how late its first sound was heard after its play.
"""
import argparse
import datetime
import json
import re
import statistics

from ducking import HOP, MESSAGE_HZ, MUSIC_HZ, RATE, amplitudes
from silences import read_samples

LEVELS = (900, 700, 500)
LINE = re.compile(r"^(\S+) (.*): (-?\d+)$")


def commands(log):
    """(wall time, command) for each command that succeeded."""
    out = []
    for line in open(log, encoding="utf-8", errors="replace"):
        found = LINE.match(line.strip())
        if found and found.group(3) == "0":
            when = datetime.datetime.fromisoformat(found.group(1)).timestamp()
            out.append((when, found.group(2)))
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("recording")
    parser.add_argument("log")
    parser.add_argument("end", type=float)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    samples = read_samples(args.recording)
    start = args.end - len(samples) / 2 / RATE
    music = amplitudes(samples, MUSIC_HZ)
    message = amplitudes(samples, MESSAGE_HZ)

    def at(window):  # the wall time a window's middle was played
        return start + (window * HOP + 220) / RATE

    def window_of(when):
        return max(0, int(((when - start) * RATE - 220) / HOP))

    full = statistics.median(a for a in music if a > 0.5 * max(music))
    level_delays, start_delays = [], []
    last = 1000
    for sent, command in commands(args.log):
        volume = re.match(r"setaudio zel0 (?:\w+ )?volume to (\d+)", command, re.I)
        falling = volume is not None and int(volume.group(1)) < last
        if volume:
            last = int(volume.group(1))
        if falling and last in LEVELS:
            target = last / 1000 * full
            w = window_of(sent - 0.05)  # a little before: a level heard early shows as negative
            while w < len(music) and music[w] > target:
                w += 1
            if w < len(music):
                level_delays.append(round((at(w) - sent) * 1000, 1))
        elif re.match(r"play zel1\b", command, re.I):
            w = window_of(sent - 0.05)
            while w < len(message) and message[w] < 0.5 * max(message):
                w += 1
            if w < len(message):
                start_delays.append(round((at(w) - sent) * 1000, 1))
    result = {"level_ms": level_delays, "message_start_ms": start_delays}
    if args.json:
        print(json.dumps(result))
    else:
        for key, values in result.items():
            if values:
                print("%s: %d, median %.0f ms, min %.0f, max %.0f"
                      % (key, len(values), statistics.median(values), min(values), max(values)))


if __name__ == "__main__":
    main()
