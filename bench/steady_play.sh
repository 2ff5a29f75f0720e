#!/usr/bin/env bash
# Compares the program with gst-play-1.0 (at its default buffer) playing the same MP3 of a steady
# 440 Hz tone, in turn (program, gst-play, program, ...), on a sound server of its own. Per run and
# player: the dropouts heard from the null sink's monitor (silences of 1 ms or more, leaving out
# half a second after the first and before the last sound), CPU seconds until a second before the
# stop, voluntary context switches per second (wake-ups) between 2 s and a second before the stop,
# summed over the player's threads, and peak RSS; then the medians and the ratios program/gst-play.
# LOAD=1 keeps every core busy with a shell loop meanwhile, as a shop PC doing other work would.
# The stream of zeros and the 10 ms recording that catch the dropouts make the server ask both
# players for data more often than a quiet server would: read wake-ups on a quiet server per
# thread (/proc/PID/task/*/status) as well.
# Usage: [SERVER=pulseaudio|pipewire] [SECONDS_PLAYED=60] [RUNS=2] [LOAD=0|1]
#        bench/steady_play.sh [PROGRAM]
set -euo pipefail
seconds=${SECONDS_PLAYED:-60}
runs=${RUNS:-2}
load=${LOAD:-0}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sound_server.sh
. "$here/sound_server.sh" "$@"
command -v gst-play-1.0 >/dev/null || { echo "steady_play: needs gst-play-1.0" >&2; exit 2; }
[ "$seconds" -ge 5 ] || { echo "steady_play: SECONDS_PLAYED must be 5 or more" >&2; exit 2; }

player='' loaders=()
on_exit='[ -z "$player" ] || kill -KILL "$player"; [ ${#loaders[@]} -eq 0 ] || kill "${loaders[@]}"'
ticks=$(getconf CLK_TCK)

# sample ARRAY PID: sets ARRAY to nanoseconds now, the voluntary and involuntary context switches
# of PID's live threads, its CPU ticks (all threads, the ended ones too) and its peak RSS in KiB.
sample() {
    local stat switches
    stat=$(sed 's/.*) //' "/proc/$2/stat" 2>/dev/null) || { echo "steady_play: player ended" >&2; return 1; }
    switches=$(cat /proc/"$2"/task/*/status 2>/dev/null |
        awk '/^voluntary_ctxt/ {v += $2} /^nonvoluntary_ctxt/ {n += $2} END {print v + 0, n + 0}')
    read -ra "$1" <<< "$(date +%s%N) $switches $(awk '{print $12 + $13}' <<< "$stat") \
        $(awk '/^VmHWM/ {print $2}' "/proc/$2/status")"
}

# measure NAME SIGNAL COMMAND...: plays COMMAND for SECONDS_PLAYED, recorded, ends it with SIGNAL
# and adds NAME's figures
measure() {
    local name=$1 signal=$2 a b count longest total
    shift 2
    if [ "$load" = 1 ]; then
        for _ in $(seq "$(nproc)"); do sh -c 'while :; do :; done' & loaders+=($!); done
    fi
    keep_sink_busy
    record "$work/rec.raw"
    sleep 0.3
    "$@" >/dev/null 2>&1 &
    player=$!
    sleep 2
    sample a "$player"
    sleep $((seconds - 3))
    sample b "$player"
    sleep 1
    # a player that does not end on the signal within 5 s is killed
    kill -"$signal" "$player"
    for _ in $(seq 50); do kill -0 "$player" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$player" 2>/dev/null && echo "steady_play: $name did not end on $signal" >&2
    wait "$player" 2>/dev/null || true
    player=''
    stop_recording
    [ ${#loaders[@]} -eq 0 ] || { kill "${loaders[@]}"; wait "${loaders[@]}" 2>/dev/null || true; }
    loaders=()
    # a recording without sound means the player did not play into the bench sink
    read -r count longest total < <(PYTHONPATH="$here" python3 -c '
import sys
from silences import RATE, read_samples, silences
s = read_samples(sys.argv[1])
loud = lambda f: abs(s[2 * f]) > 100 or abs(s[2 * f + 1]) > 100
frames = range(len(s) // 2)
first = next((f for f in frames if loud(f)), None)
if first is None:
    sys.exit("steady_play: nothing heard")
last = next(f for f in reversed(frames) if loud(f))
gaps = [n * 1000 / RATE for at, n in silences(s, 100, RATE // 1000)
        if first + RATE // 2 <= at and at + n + RATE // 2 <= last]
print(len(gaps), "%.1f %.1f" % (max(gaps, default=0), sum(gaps)))' "$work/rec.raw")
    local dt cpu vol invol rss
    dt=$(calc "(${b[0]} - ${a[0]}) / 1e9")
    cpu=$(calc "${b[3]} / $ticks")
    vol=$(calc "(${b[1]} - ${a[1]}) / $dt")
    invol=$(calc "(${b[2]} - ${a[2]}) / $dt")
    rss=$(calc "${b[4]} / 1024")
    printf '%-8s dropouts %d, longest %.1f ms, total %.1f ms; CPU %.2f s; wake-ups %.1f/s ' \
        "$name" "$count" "$longest" "$total" "$cpu" "$vol"
    printf '(involuntary switches %.1f/s); peak RSS %.1f MiB\n' "$invol" "$rss"
    echo "$name $count $longest $cpu $vol $rss" >> "$work/figures"
}

start_server
program=${programs[0]}
echo "== $program against gst-play-1.0 on $server, $seconds s per play, LOAD=$load"
for run in $(seq "$runs"); do
    echo "-- run $run"
    dir="$work/corvane-bench-$RANDOM"
    mkdir -p "$dir/Music" "$dir/Messages"
    cp "$program" "$dir/corvane-bench"
    sox -n -r 44100 -c 2 "$work/tone.wav" synth $((seconds + 10)) sine 440 vol 0.3
    lame --quiet "$work/tone.wav" "$dir/Music/tone.mp3"
    rm "$work/tone.wav"
    printf '[Settings]\r\nMessageInterval=0\r\n' > "$dir/corvane-bench.ini"
    measure program INT env QT_QPA_PLATFORM=offscreen "$dir/corvane-bench"
    # autoaudiosink's pulsesink plays to the default sink, bench; gst-play-1.0 has no handler
    # for INT, which a background command ignores
    measure gst-play TERM gst-play-1.0 --no-interactive -q "$dir/Music/tone.mp3"
    rm -rf "$dir"
done

echo "== medians over $runs runs"
python3 -c '
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    name, *values = line.split()
    rows.setdefault(name, []).append([float(v) for v in values])
med = {name: [statistics.median(c) for c in zip(*r)] for name, r in rows.items()}
for name, m in med.items():
    print("%-8s dropouts %g, longest %.1f ms, CPU %.2f s, wake-ups %.1f/s, peak RSS %.1f MiB"
          % (name, *m))
p, g = med["program"], med["gst-play"]
ratio = lambda x, y: "%.2f" % (x / y) if y else "n/a"
print("program/gst-play: CPU %s, wake-ups %s" % (ratio(p[2], g[2]), ratio(p[3], g[3])))' \
    "$work/figures"
