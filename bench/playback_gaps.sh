#!/usr/bin/env bash
# Measures what the program really plays, through a null sink of a sound server of its own:
#   1. the silence at each track change (six 2-second files in a row, no messages), recorded from
#      the sink's monitor while a stream of zeros keeps it sending; the first and the last second
#      of sound, the stream's start and the program's end, are left out;
#   2. how soon the program plays into the sound server again after the server is killed and
#      started again, and the program's open descriptors and threads before and after.
# Usage: [SERVER=pulseaudio|pipewire] [RESTARTS=20] [LISTEN=4] [FORMAT=wav|mp3|flac|ogg|opus|m4a]
#        bench/playback_gaps.sh [PROGRAM ...]
# FORMAT is the kind of file the tones are stored as for the track changes (wav by default).
# The default program is build/program/corvane; name an older build beside it to measure both in
# the same run. Needs what scripts/install-deps.sh installs.
set -euo pipefail
restarts=${RESTARTS:-20}
format=${FORMAT:-wav}
listen=${LISTEN:-4}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sound_server.sh
. "$here/sound_server.sh" "$@"

encode() {  # encode WAV FORMAT: the same sound in FORMAT beside it, the wave file gone
    local encoder
    case $2 in
        wav) return ;;
        mp3) lame --quiet "$1" "${1%.wav}.mp3" && rm "$1"; return ;;  # with its delay and padding
        flac) encoder="flacenc" ;;
        ogg) encoder="vorbisenc ! oggmux" ;;
        opus) encoder="audioresample ! opusenc ! oggmux" ;;
        m4a) encoder="voaacenc ! mp4mux" ;;
        *) echo "playback_gaps: unknown FORMAT $2" >&2; exit 2 ;;
    esac
    # shellcheck disable=SC2086  # the encoder is a pipeline description, split on purpose
    gst-launch-1.0 -q filesrc location="$1" ! wavparse ! audioconvert ! $encoder \
        ! filesink location="${1%.wav}.$2"
    rm "$1"
}

folder() {  # folder PROGRAM SECONDS: a program folder with six tones of SECONDS each
    local dir="$work/corvane-bench-$RANDOM"
    mkdir -p "$dir/Music" "$dir/Messages"
    cp "$1" "$dir/corvane-bench"
    for i in 1 2 3 4 5 6; do
        sox -n -r 44100 -c 2 "$dir/Music/t$i.wav" synth "$2" sine $((300 + i * 100)) vol 0.3
        encode "$dir/Music/t$i.wav" "$format"
    done
    printf '[Settings]\r\nMessageInterval=0\r\n' > "$dir/corvane-bench.ini"
    echo "$dir"
}

start_server
for program in "${programs[@]}"; do
    echo "== $program on $server"
    dir=$(folder "$program" 2)
    keep_sink_busy
    record "$work/gaps.raw"
    sleep 0.3
    QT_QPA_PLATFORM=offscreen timeout -s INT 14 "$dir/corvane-bench" 2>/dev/null || true
    stop_recording
    # A silence within 50 ms of where a file ends (every 2 s from the first sound) is a track
    # change's; any other is a dropout, which the sound server's own glitches cause too.
    PYTHONPATH="$here" python3 -c '
import statistics, sys
from silences import RATE, read_samples, silences
samples = read_samples(sys.argv[1])
first = next(i // 2 for i, s in enumerate(samples) if abs(s) > 100) * 1000 / RATE
changes, others = [], []
for start, count in silences(samples, 100, RATE // 1000):
    at = start * 1000 / RATE - first
    if 1000 <= at <= len(samples) / 2 * 1000 / RATE - first - 1000:
        (changes if abs(at - round(at / 2000) * 2000) <= 50 else others).append(count * 1000 / RATE)
for name, gaps in (("at a track change", changes), ("elsewhere", others)):
    print("silences over 1 ms %s: %s" % (name, "%d, median %.1f ms, max %.1f ms"
          % (len(gaps), statistics.median(gaps), max(gaps)) if gaps else "none"))' "$work/gaps.raw"

    dir=$(folder "$program" 60)
    QT_QPA_PLATFORM=offscreen "$dir/corvane-bench" >/dev/null 2>&1 &
    pid=$!
    sleep 2
    count() { echo "$(ls /proc/$pid/fd | wc -l) descriptors, $(ls /proc/$pid/task | wc -l) threads"; }
    echo "before restarts: $(count)"
    backs=()
    for i in $(seq 1 "$restarts"); do
        stop_server; sleep 1
        # Timed from the moment the new server takes connections and has its sink, to the
        # program's stream appearing on it, polled every 20 ms.
        start_server
        asked=$(date +%s%N)
        back=none
        while [ $(( ($(date +%s%N) - asked) / 1000000 )) -lt $((listen * 1000)) ]; do
            if [ -n "$(pactl list short sink-inputs 2>/dev/null)" ]; then
                back=$(awk -v ns=$(( $(date +%s%N) - asked )) 'BEGIN {printf "%.2f", ns / 1e9}')
                break
            fi
            sleep 0.02
        done
        backs+=("$back")
    done
    echo "after $restarts restarts: $(count)"
    echo "playing again after the server was started, seconds: ${backs[*]}"
    printf '%s\n' "${backs[@]}" | grep -v none | sort -n | awk -v n="$restarts" -v w="$listen" '{a[NR]=$1} END {if (NR) printf "median %.2f s, max %.2f s; %d of %d back within %d s\n", a[int((NR+1)/2)], a[NR], NR, n, w}'
    kill -INT $pid; wait $pid || true
done
