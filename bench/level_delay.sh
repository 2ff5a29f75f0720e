#!/usr/bin/env bash
# Measures, from what the program really plays through a null sink of a sound server of its own,
# how late a level change and a message's start are heard after the program sends them: the
# music (one long 400 Hz tone) fades down before each message (a 1200 Hz tone, every 4 seconds),
# the program logs each command with its time, and the recording is placed in time by the moment
# it stops. Prints the medians for the music at 90, 70 and 50 % of its level during each fade
# down, and for each message's first sound. The recording's own latency (10 ms) is in the figures.
# Usage: [SERVER=pulseaudio|pipewire] [SECONDS_PLAYED=22] bench/level_delay.sh [PROGRAM ...]
# An older build without the command log ("corvane.media.commands") gives no figures.
set -euo pipefail
seconds=${SECONDS_PLAYED:-22}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sound_server.sh
. "$here/sound_server.sh" "$@"

start_server
for program in "${programs[@]}"; do
    echo "== $program on $server"
    dir=$(duck_folder "$program")
    keep_sink_busy
    record "$work/level.raw"
    sleep 0.3
    QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="corvane.media.commands.debug=true" \
        QT_MESSAGE_PATTERN="%{time yyyy-MM-ddTHH:mm:ss.zzz} %{message}" \
        timeout -s INT "$seconds" "$dir/corvane-bench" 2> "$work/commands.log" || true
    sleep 0.3  # the end of the sound is in the recording before it stops
    stopped=$(date +%s.%N)
    stop_recording
    python3 "$here/level_delay.py" "$work/level.raw" "$work/commands.log" "$stopped"
    rm -rf "$dir"
done
