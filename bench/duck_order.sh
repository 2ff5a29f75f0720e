#!/usr/bin/env bash
# Measures, from what the program really plays through a null sink of a sound server of its own,
# the order of fade and message: the music (one long 400 Hz tone) fades down before each message
# (a 1200 Hz tone of a second, every 4 seconds) and comes back up after it. Prints, per program,
# the median over the messages of: the music's level when the message is first heard, the fade's
# length as heard, how long before the message the fade had ended, and how soon the music was
# back up after the message.
# Usage: [SERVER=pulseaudio|pipewire] [SECONDS_PLAYED=22] bench/duck_order.sh [PROGRAM ...]
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
    record "$work/duck.raw"
    sleep 0.3
    QT_QPA_PLATFORM=offscreen timeout -s INT "$seconds" "$dir/corvane-bench" 2>/dev/null || true
    stop_recording
    python3 "$here/ducking.py" --json "$work/duck.raw" | python3 -c '
import json, statistics, sys
found = json.load(sys.stdin)
if not found:
    sys.exit("no message heard")
def median(key):
    values = [m[key] for m in found if m[key] is not None]
    return statistics.median(values) if values else float("nan")
print("%d messages; medians: music at the message %.0f%% of full, fade down heard %.0f ms, "
      "ended %.0f ms before the message, music back up %.0f ms after it"
      % (len(found), median("music_at_message_pct"), median("fade_down_ms"),
         median("fade_ended_before_message_ms"), median("back_up_after_message_ms")))
print("per message, music at it (%%): %s" % " ".join(str(m["music_at_message_pct"]) for m in found))'
    cp "$work/duck.raw" "${KEEP_RECORDING:-/dev/null}" 2>/dev/null || true
    rm -rf "$dir"
done
