#!/usr/bin/env bash
# What a daypart's start sounds like, measured from what the program really plays through a null
# sink of a sound server of its own, under a faked wall clock (libfaketime) that reaches 11:00 on
# a Monday a few seconds after the start. [Dayparts] plays Music/Morning (a 400 Hz tone) before
# 11:00 and Music/Lunch (800 Hz) after; prints what dayparts.py finds around 11:00.
#   CASE=change (default): the morning's file of 8 s ends after 11:00; the lunch file follows it.
#   CASE=runon: the morning's file has 400 s to go; it fades out to end 180 s after 11:00.
#   CASE=level: [Levels] 07:00=100 and 11:00=40: the music moves to 40 over 10 s from 11:00.
# CROSSFADE=N sets the crossfade in seconds.
# Usage: [SERVER=pulseaudio|pipewire] [CASE=...] [CROSSFADE=0] bench/dayparts.sh [PROGRAM ...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sound_server.sh
. "$here/sound_server.sh" "$@"
case=${CASE:-change}
lead=5 morning=8 seconds=14 levels=""
case $case in
    runon) lead=3 morning=400 seconds=190 ;;
    level) morning=60 seconds=20 levels=$'[Levels]\r\n07:00=100\r\n11:00=40\r\n' ;;
esac
faketime=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[ -n "$faketime" ] || { echo "libfaketime is not installed" >&2; exit 1; }

start_server
for program in "${programs[@]}"; do
    echo "== $program on $server, $case, crossfade ${CROSSFADE:-0} s"
    dir="$work/corvane-bench-$RANDOM"
    mkdir -p "$dir/Music/Morning" "$dir/Music/Lunch" "$dir/Messages"
    cp "$program" "$dir/corvane-bench"
    sox -n -r 44100 -c 2 "$dir/Music/Morning/morning.wav" synth "$morning" sine 400 vol 0.5
    sox -n -r 44100 -c 2 "$dir/Music/Lunch/lunch.wav" synth 60 sine 800 vol 0.5
    printf '[Settings]\r\nMessageInterval=0\r\n[Options]\r\nCrossfade=%s\r\n[Dayparts]\r\nMon-Fri 07:00-11:00=Morning\r\n11:00-14:00=Lunch\r\n%s' \
        "${CROSSFADE:-0}" "$levels" > "$dir/corvane-bench.ini"
    keep_sink_busy
    record "$work/rec.raw"
    sleep 0.3
    launched=$(calc "$(stat -c %s "$work/rec.raw") / (44100 * 4)")
    QT_QPA_PLATFORM=offscreen LD_PRELOAD="$faketime" FAKETIME_DONT_FAKE_MONOTONIC=1 \
        FAKETIME="@2026-12-07 $(date -d "11:00 today - $lead seconds" +%T)" \
        timeout -s INT "$seconds" "$dir/corvane-bench" 2>/dev/null || true
    stop_recording
    python3 "$here/dayparts.py" "$work/rec.raw" "$(calc "$launched + $lead")"
    cp "$work/rec.raw" "${KEEP_RECORDING:-/dev/null}" 2>/dev/null || true
    rm -rf "$dir"
done
