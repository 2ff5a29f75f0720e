#!/usr/bin/env bash
# The loudness of each track as the program really plays it, recorded from a null sink's monitor
# on a sound server of its own, with Even Loudness off and then on: a music folder of a quiet
# pink-noise track and a loud tone (by default -30 and -10 LUFS, set by ffmpeg's own
# measurement), no messages.
# Each run starts the program on a folder whose measurements are already cached (a first start
# measures them), records the first two tracks and measures each with ffmpeg's ebur128 filter.
# Usage: [SERVER=pulseaudio|pipewire] [SECONDS_PER_TRACK=12] bench/loudness_spread.sh [PROGRAM]
# Needs what scripts/install-deps.sh installs, and ffmpeg.
set -euo pipefail
seconds=${SECONDS_PER_TRACK:-12}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sound_server.sh
. "$here/sound_server.sh" "$@"
program=${programs[0]}
export XDG_CACHE_HOME=$work/cache QT_QPA_PLATFORM=offscreen

lufs() {  # integrated loudness of a file (or of a part: lufs FILE START LENGTH)
    local range=()
    [ $# -gt 1 ] && range=(-ss "$2" -t "$3")
    ffmpeg -nostdin -hide_banner -nostats "${range[@]}" -i "$1" -af ebur128 -f null - 2>&1 |
        awk '/I:/ {i = $2} END {print i}'
}

# Two tracks, brought to their target levels by their own measured loudness.
make_track() {  # make_track NAME TARGET SOX-SYNTH...
    local name=$1 target=$2
    shift 2
    sox -n -r 44100 -c 2 -b 16 "$work/raw.wav" synth "$seconds" "$@"
    local now
    now=$(lufs "$work/raw.wav")
    sox "$work/raw.wav" "$work/dir/Music/$name" gain "$(python3 -c "print($target - $now)")"
}
mkdir -p "$work/dir/Music" "$work/dir/Messages"
cp "$program" "$work/dir/corvane-bench"  # the name the sound server's script stops at the end
make_track a-quiet.wav -30 pinknoise vol 0.5
make_track b-loud.wav -10 sine 440 sine 660 vol 0.3
echo "tracks: a-quiet.wav $(lufs "$work/dir/Music/a-quiet.wav") LUFS," \
    "b-loud.wav $(lufs "$work/dir/Music/b-loud.wav") LUFS"

start_server

for even in 0 1; do
    printf '[Settings]\r\nMessageInterval=0\r\n[Options]\r\nEvenLoudness=%s\r\n' "$even" \
        > "$work/dir/corvane-bench.ini"
    # The list starts at a random entry: the recording is cut at the track change instead.
    timeout -s INT 3 "$work/dir/corvane-bench" >/dev/null 2>&1 || true  # measures, if on
    keep_sink_busy
    record "$work/out.raw"
    timeout -s INT $((2 * seconds + 2)) "$work/dir/corvane-bench" >/dev/null 2>&1 || true
    sleep 0.3
    stop_recording
    sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/out.raw" "$work/out.wav"
    # The first track begins with the first sound; the second follows it some 35 ms after its end.
    first=$(python3 -c '
import array, sys
samples = array.array("h", open(sys.argv[1], "rb").read())
print(next((i // 2 for i, v in enumerate(samples) if abs(v) > 100), 0) / 44100)' "$work/out.raw")
    change=$(python3 -c "print($first + $seconds)")
    one=$(lufs "$work/out.wav" "$(python3 -c "print($first + 1)")" "$((seconds - 2))")
    two=$(lufs "$work/out.wav" "$(python3 -c "print($change + 1)")" "$((seconds - 2))")
    printf 'Even Loudness %s: heard %s and %s LUFS, a spread of %s LU\n' \
        "$([ "$even" = 1 ] && echo on || echo off)" "$one" "$two" \
        "$(python3 -c "print(round(abs($one - ($two)), 1))")"
done
