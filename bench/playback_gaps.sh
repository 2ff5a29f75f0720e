#!/usr/bin/env bash
# Measures what the program really plays, through a PulseAudio null sink:
#   1. the silence at each track change (six 2-second files in a row, no messages), recorded from
#      the sink's monitor;
#   2. how soon the program plays into the sound server again after the server is killed and
#      started again (its stream is heard some 35 ms after it appears), and the program's open
#      descriptors and threads before and after the restarts.
# Usage: [RESTARTS=20] [LISTEN=4] bench/playback_gaps.sh [PROGRAM ...]
# The default program is build/program/corvane; name an older build beside it to measure both in
# the same run. Needs pulseaudio, pulseaudio-utils, sox and python3 (scripts/install-deps.sh).
set -euo pipefail
restarts=${RESTARTS:-20}
listen=${LISTEN:-4}
here=$(cd "$(dirname "$0")" && pwd)
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$here/../build/program/corvane")
work=$(mktemp -d)
trap 'pkill -f "corvane-bench" 2>/dev/null || true; pulseaudio -k 2>/dev/null || true; rm -rf "$work"' EXIT

start_server() {
    pulseaudio --start --exit-idle-time=-1 -n --load="module-null-sink sink_name=bench" \
        --load="module-native-protocol-unix" >/dev/null 2>&1
    pactl set-default-sink bench
}
record() { parec -d bench.monitor --raw --format=s16le --rate=44100 --channels=2 > "$1" & }

folder() {  # folder PROGRAM SECONDS: a program folder with six tones of SECONDS each
    local dir="$work/corvane-bench-$RANDOM"
    mkdir -p "$dir/Music" "$dir/Messages"
    cp "$1" "$dir/corvane-bench"
    for i in 1 2 3 4 5 6; do
        sox -n -r 44100 -c 2 "$dir/Music/t$i.wav" synth "$2" sine $((300 + i * 100)) vol 0.3
    done
    printf '[Settings]\r\nMessageInterval=0\r\n' > "$dir/corvane-bench.ini"
    echo "$dir"
}

pulseaudio -k 2>/dev/null || true
sleep 0.5
start_server
for program in "${programs[@]}"; do
    echo "== $program"
    dir=$(folder "$program" 2)
    record "$work/gaps.raw"
    sleep 0.3
    QT_QPA_PLATFORM=offscreen timeout -s INT 14 "$dir/corvane-bench" 2>/dev/null || true
    pkill parec || true
    python3 "$here/silences.py" --json "$work/gaps.raw" | python3 -c '
import json, statistics, sys
gaps = [s["ms"] for s in json.load(sys.stdin)]
if gaps:
    print("track-change silence: %d changes, median %.0f ms, mean %.0f ms, max %.0f ms"
          % (len(gaps), statistics.median(gaps), statistics.mean(gaps), max(gaps)))
else:
    print("track-change silence: none found")'

    dir=$(folder "$program" 60)
    QT_QPA_PLATFORM=offscreen "$dir/corvane-bench" >/dev/null 2>&1 &
    pid=$!
    sleep 2
    count() { echo "$(ls /proc/$pid/fd | wc -l) descriptors, $(ls /proc/$pid/task | wc -l) threads"; }
    echo "before restarts: $(count)"
    backs=()
    for i in $(seq 1 "$restarts"); do
        pulseaudio -k; sleep 1
        # A null sink's monitor sends nothing while no stream plays into it, so the return is
        # timed by the program's stream appearing on the new server, polled every 20 ms.
        asked=$(date +%s%N)
        start_server
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
