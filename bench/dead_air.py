#!/usr/bin/env python3
"""What dead air sounds like and what the status says of it, from a recording of raw s16le stereo
44.1 kHz samples (the null sink's monitor) and the program's status polled meanwhile.

    dead_air.py alarm REC POLLS [--figures FILE]
    dead_air.py radio REC POLLS STOPPED_AT [--before HZ] [--after HZ] [--figures FILE]
    dead_air.py medians FILE

POLLS has a line per status request: the wall clock (seconds) just after the recording's size was
read, the wall clock once the answer came, that size in bytes, and the answer (JSON on one line).
The recording is placed on the wall clock by the size: a sample cannot have been written before it
was played, so the earliest "clock - size / byte rate" is where the recording starts. A status
counts at the middle of its request. A window of 10 ms is loud at -50 dBFS RMS or more.

alarm: the output's silence is the quiet before the first status with the silence problem (from the
end of the last loud window); prints, from there, when that status came and when sound came back
(and at which of 440 and 880 Hz), and from sound back when the problem left the status.
radio: the stream is a tone of --before Hz (440), the next file one of --after Hz (880); the
station was ended or stalled at STOPPED_AT (wall clock). Prints, from then, the stream's last sound
(the end of its tone at half its level before then, held for 100 ms) and the next file's first (the
start of its tone at half its level, held as long), and when the status named it.
medians: the median and the range of each figure the runs added to FILE with --figures.
"""
import argparse
import json
import math
import statistics

from silences import RATE, WINDOW, levels, read_samples

LOUD_DB = -50.0
HELD = 10  # windows
SILENCE_PROBLEM = "silence on the output"


def read_polls(path):
    """(time, answer or None) of each request, and the wall clock of the recording's start."""
    polls, start = [], None
    with open(path) as f:
        for line in f:
            parts = line.split(" ", 3)
            if len(parts) < 3:
                continue  # the poller's last line, cut by its end
            sized, answered, size = float(parts[0]), float(parts[1]), int(parts[2])
            start = min(start, sized - size / (RATE * 4)) if start is not None else sized - size / (RATE * 4)
            try:
                answer = json.loads(parts[3]) if len(parts) > 3 else None
            except ValueError:
                answer = None  # no answer within the request's time
            polls.append(((sized + answered) / 2, answer))
    return polls, start


def loudness(samples):
    """The RMS of both channels in each 10 ms window, in dB of full scale."""
    out = []
    for start in range(0, len(samples) - 2 * WINDOW, 2 * WINDOW):
        power = sum(x * x for x in samples[start:start + 2 * WINDOW]) / (2 * WINDOW)
        out.append(10 * math.log10(power / 32768 ** 2) if power > 0 else -200.0)
    return out


def problem(answer):
    return answer is not None and any(SILENCE_PROBLEM in p for p in answer.get("problems", []))


def music_file(answer):
    return answer.get("music", {}).get("file") if answer is not None else None


def add_figures(path, figures):
    if path:
        with open(path, "a") as f:
            f.write(json.dumps(figures) + "\n")


def alarm(args):
    samples = read_samples(args.rec)
    polls, start = read_polls(args.polls)
    shown = next((i for i, (_, a) in enumerate(polls) if problem(a)), None)
    if shown is None:
        print("no status showed the silence problem (%d requests, %d answered)"
              % (len(polls), sum(a is not None for _, a in polls)))
        add_figures(args.figures, {"shown": None})
        return
    shown_at = polls[shown][0]
    before = next((music_file(a) for _, a in reversed(polls[:shown]) if a is not None), None)
    db = loudness(samples)
    at = lambda window: start + window / 100  # a window's start on the wall clock
    last_loud = max((i for i in range(min(len(db), int((shown_at - start) * 100))) if db[i] >= LOUD_DB),
                    default=None)
    silent = at(last_loud + 1) if last_loud is not None else start
    back = next((i for i in range(last_loud + 1 if last_loud is not None else 0, len(db))
                 if db[i] >= LOUD_DB), None)
    gone = next((t for t, a in polls[shown:] if a is not None and not problem(a)), None)
    after = next((music_file(a) for _, a in polls[shown:] if a is not None and music_file(a) != before),
                 None)
    next_at = next((t for t, a in polls[shown:] if a is not None and music_file(a) != before), None)
    hz = None
    if back is not None:
        left = samples[0::2][back * WINDOW:(back + 20) * WINDOW]
        low, high = (statistics.median(levels(left, f)) for f in (440, 880))
        hz = 440 if low > high else 880
    fig = {
        "shown": shown_at - silent,
        "back": at(back) - silent if back is not None else None,
        "gone": gone - at(back) if gone is not None and back is not None else None,
        "next": next_at - silent if next_at is not None else None,
    }
    show = lambda v: "%.2f s" % v if v is not None else "never"
    print("output silent (%s playing) -> problem in the status %s; -> sound back %s (%s Hz); "
          "-> status names the next file (%s) %s; sound back -> problem gone %s"
          % (before, show(fig["shown"]), show(fig["back"]), hz, after, show(fig["next"]),
             show(fig["gone"])))
    add_figures(args.figures, fig)


def radio(args):
    samples = read_samples(args.rec)
    polls, start = read_polls(args.polls)
    left = samples[0::2]
    before, after = levels(left, args.before), levels(left, args.after)
    stopped = max(0, int((args.stopped - start) * 100))  # the window of the station's end
    played = sorted(before[max(0, stopped - 300):stopped])
    full = played[len(played) // 2] if played else 0
    # the next file's level: the loudest of its tone heard after the stop, give or take
    heard = sorted(after[stopped:])
    ref = heard[int(len(heard) * 0.95)] if heard else 0
    # a tone counts from 100 ms at half its level on: a click where the stream breaks off is none
    held = lambda levels, i, level: level > 0.02 and min(levels[i:i + HELD]) >= level / 2
    first = next((i for i in range(stopped, len(after) - HELD) if held(after, i, ref)), None)
    last = max((i + HELD - 1 for i in range(0, (first if first is not None else len(before)) - HELD)
                if held(before, i, full)), default=None)
    named = next((t for t, a in polls if t > args.stopped and music_file(a) not in (None, "", args.stream)),
                 None)
    ms = lambda window: (window - stopped) / 100 if window is not None else None
    fig = {
        "last_before": ms(last),
        "first_after": ms(first),
        "gap": (first - last) / 100 if first is not None and last is not None else None,
        "named": named - args.stopped if named is not None else None,
    }
    show = lambda v: "%.2f s" % v if v is not None else "never"
    print("from the station's stop: stream's last sound %s, next file's first %s (gap %s), the "
          "status names it %s; stream's tone at %.2f of full scale" % (
              show(fig["last_before"]), show(fig["first_after"]), show(fig["gap"]),
              show(fig["named"]), full))
    add_figures(args.figures, fig)


def medians(args):
    rows = [json.loads(line) for line in open(args.file) if line.strip()]
    for key in rows[0] if rows else []:
        values = [r.get(key) for r in rows]
        known = [v for v in values if v is not None]
        missing = len(values) - len(known)
        print("  %-12s median %s, range %s (%d runs%s)" % (
            key, "%.2f s" % statistics.median(known) if known else "-",
            "%.2f to %.2f s" % (min(known), max(known)) if known else "-", len(values),
            ", %d without" % missing if missing else ""))


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="case", required=True)
    a = sub.add_parser("alarm")
    a.add_argument("rec")
    a.add_argument("polls")
    a.add_argument("--figures")
    r = sub.add_parser("radio")
    r.add_argument("rec")
    r.add_argument("polls")
    r.add_argument("stopped", type=float)
    r.add_argument("--before", type=float, default=440)
    r.add_argument("--after", type=float, default=880)
    r.add_argument("--stream", default="radio.m3u")
    r.add_argument("--figures")
    m = sub.add_parser("medians")
    m.add_argument("file")
    args = parser.parse_args()
    {"alarm": alarm, "radio": radio, "medians": medians}[args.case](args)


if __name__ == "__main__":
    main()
