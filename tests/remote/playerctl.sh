#!/usr/bin/env bash
# The desktop's media controls, as a desktop uses them: playerctl on a private session bus steers
# the program while a sound server of its own records what it plays. Checks that the metadata
# names the playing file, and that next, volume and pause are heard.
# Usage (under dbus-run-session): [SERVER=pulseaudio|pipewire] playerctl.sh PROGRAM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../bench/sound_server.sh
. "$here/../../bench/sound_server.sh" "$@"
export QT_QPA_PLATFORM=offscreen
rate=44100

# The program is not left playing into a server that is gone.
fail() { echo "FAIL: $*" >&2; kill -9 "${pid:-}" "${other:-}" 2>/dev/null; exit 1; }
# Seconds recorded so far: where an event falls in the recording.
now() { calc "$(stat -c %s "$work/rec.raw") / ($rate * 4)"; }
calc() { awk "BEGIN { print $* }"; }
holds() { awk "BEGIN { exit !($*) }"; }
# "FREQUENCY RMS" of the recording between two offsets in seconds.
measure() {
    python3 - "$work/rec.raw" "$1" "$2" <<'PY'
import array, math, sys
samples = array.array("h", open(sys.argv[1], "rb").read())[0::2]
a, b = (int(float(x) * 44100) for x in sys.argv[2:4])
part = samples[a:b]
crossings = sum(1 for i in range(1, len(part)) if (part[i - 1] < 0) != (part[i] < 0))
print("%.0f %.1f" % (crossings / 2 / (len(part) / 44100), math.sqrt(sum(s * s for s in part) / len(part))))
PY
}
pc() { playerctl -p corvane "$@"; }

start_server
dir="$work/zone"
mkdir -p "$dir/Music" "$dir/Messages" "$work/other/Music" "$work/other/Messages"
sox -n -r $rate -c 2 "$dir/Music/low.wav" synth 60 sine 400 vol 0.5
sox -n -r $rate -c 2 "$dir/Music/high.wav" synth 60 sine 700 vol 0.5
sox -n -r $rate -c 2 "$dir/Messages/notice.wav" synth 1 sine 1200 vol 0.5
printf '[Settings]\r\nMessageInterval=14\r\n' > "$dir/corvane.ini"
keep_sink_busy
record "$work/rec.raw"
"${programs[0]}" --folder "$dir" >"$work/program.log" 2>&1 &
pid=$!
for _ in $(seq 100); do [ "$(pc status 2>/dev/null)" = Playing ] && break; sleep 0.1; done
[ "$(pc status)" = Playing ] || fail "not playing on the bus: $(playerctl -l 2>&1)"

sleep 1.5
first=$(pc metadata xesam:url)
name=$(basename "${first%.wav}")
case $first in "file://$dir/Music/"*.wav) ;; *) fail "metadata names $first" ;; esac
[ "$(pc metadata xesam:title)" = "$name" ] || fail "title $(pc metadata xesam:title), not $name"
t=$(now); read -r f_first rms_full < <(measure "$(calc "$t - 0.8")" "$t")

pc next
t=$(now); sleep 1.6
read -r f_next _ < <(measure "$(calc "$t + 0.9")" "$(calc "$t + 1.5")")
[ "$(pc metadata xesam:url)" != "$first" ] || fail "next left $first in the metadata"
[ "$(( (f_first - f_next) * (f_first - f_next) ))" -gt 10000 ] ||
    fail "next heard as ${f_first} Hz, then ${f_next} Hz"

pc volume 0.5
t=$(now); sleep 1.2
read -r _ rms_half < <(measure "$(calc "$t + 0.6")" "$(calc "$t + 1.1")")
[ "$(pc volume)" = 0.500000 ] || fail "volume reads $(pc volume)"
ratio=$(calc "$rms_half / $rms_full")
holds "$ratio > 0.4 && $ratio < 0.6" || fail "volume 0.5 heard at $ratio of full"

pc pause
t=$(now); sleep 1
read -r _ rms_paused < <(measure "$(calc "$t + 0.5")" "$(calc "$t + 0.9")")
[ "$(pc status)" = Paused ] || fail "status $(pc status) after pause"
holds "$rms_paused < 30" || fail "paused, yet heard at $rms_paused"
pc play
t=$(now); sleep 1
read -r _ rms_resumed < <(measure "$(calc "$t + 0.5")" "$(calc "$t + 0.9")")
holds "$rms_resumed > 30 * 10" || fail "not heard again after play: $rms_resumed"

for _ in $(seq 150); do [ "$(pc metadata xesam:title)" = "Message: notice" ] && break; sleep 0.1; done
[ "$(pc metadata xesam:title)" = "Message: notice" ] || fail "a message shows as $(pc metadata xesam:title)"

# A second zone takes a name of its own.
"${programs[0]}" --folder "$work/other" >/dev/null 2>&1 &
other=$!
for _ in $(seq 100); do playerctl -l | grep -qx "corvane.instance$other" && break; sleep 0.1; done
playerctl -l | grep -qx "corvane.instance$other" || fail "second player not listed: $(playerctl -l)"
kill -INT "$other"

dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.corvane /org/mpris/MediaPlayer2 \
    org.mpris.MediaPlayer2.Quit >/dev/null
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$pid" 2>/dev/null || fail "Quit did not end the program"
grep -q '^MusicVolumeHigh=50' "$dir/corvane.ini" || fail "volume not stored: $(cat "$dir/corvane.ini")"
echo "ok on $server: ${f_first} Hz then ${f_next} Hz; volume 0.5 heard at $ratio of full"
