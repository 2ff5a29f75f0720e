#!/usr/bin/env bash
# Measures how soon the program's stream follows its chosen output (File > Output), on a sound
# server of its own with a second null sink "second" chosen in the settings: how soon after that
# sink is removed the stream plays on the default ("bench"), and how soon after it is added again
# the stream is back on it. Polled every 50 ms with pactl, over ROUNDS removals (default 5).
# Usage: [SERVER=pulseaudio|pipewire] [ROUNDS=5] bench/output_follow.sh [PROGRAM]
set -euo pipefail
rounds=${ROUNDS:-5}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sound_server.sh
. "$here/sound_server.sh" "$@"

plug() {
    pactl load-module module-null-sink sink_name=second \
        sink_properties=device.description=Second >/dev/null
}
unplug() { pactl unload-module "$(pactl list short modules | awk '/sink_name=second/{print $1}')"; }
plays_on() {  # the names of the sinks the streams play on
    local sinks
    sinks=$(pactl list short sinks)
    pactl list short sink-inputs | while read -r _ sink _; do
        awk -v s="$sink" '$1 == s {print $2}' <<< "$sinks"
    done | tr '\n' ' '
}
wait_for() {  # wait_for SINK: milliseconds until the stream plays there, or "none" within 10 s
    local start
    start=$(date +%s%N)
    for _ in $(seq 200); do
        if [ "$(plays_on)" = "$1 " ]; then
            echo $((($(date +%s%N) - start) / 1000000))
            return
        fi
        sleep 0.05
    done
    echo none
}

start_server
plug
program=${programs[0]}
dir="$work/corvane-bench-$RANDOM"
mkdir -p "$dir/Music" "$dir/Messages"
cp "$program" "$dir/corvane-bench"
sox -n -r 44100 -c 2 "$dir/Music/music.wav" synth 60 sine 400 vol 0.3
printf '[Settings]\r\nMessageInterval=0\r\n[Options]\r\nOutputDevice=second\r\n' \
    > "$dir/corvane-bench.ini"
QT_QPA_PLATFORM=offscreen "$dir/corvane-bench" >/dev/null 2>&1 &
echo "== $program on $server: on the chosen output after $(wait_for second) ms from start"
away=() back=()
for _ in $(seq "$rounds"); do
    unplug
    away+=("$(wait_for bench)")
    sleep 1
    plug
    back+=("$(wait_for second)")
    sleep 1
done
echo "on the default after the chosen output went (ms): ${away[*]}"
echo "back on the chosen output after it returned (ms): ${back[*]}"
