#!/usr/bin/env bash
# The desktop's media controls, as a desktop uses them: playerctl on a private session bus steers
# the program while a sound server of its own records what it plays. Checks that the metadata
# names the playing file, and that next, volume and pause are heard.
# Usage (under dbus-run-session): [SERVER=pulseaudio|pipewire] playerctl.sh PROGRAM
# shellcheck disable=SC2016  # what soon and on_exit are given is code, run later
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../bench/sound_server.sh
. "$here/../../bench/sound_server.sh" "$@"
export QT_QPA_PLATFORM=offscreen
rate=44100
# However the script ends, the programs go before the sound server does.
on_exit='kill -9 ${pid:-} ${other:-}'

fail() { echo "FAIL: $*" >&2; exit 1; }
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
soon '[ "$(pc status 2>/dev/null)" = Playing ]' || fail "not playing on the bus: $(playerctl -l 2>&1)"

heard 0.7 1.5; rms_full=$rms f_first=$hz
first=$(pc metadata xesam:url)
case $first in "file://$dir/Music/"*.wav) ;; *) fail "metadata names $first" ;; esac
[ "$(pc metadata xesam:title)" = "$(basename "$first" .wav)" ] ||
    fail "title $(pc metadata xesam:title) for $first"

pc next
heard 0.9 1.5; f_next=$hz
[ "$(pc metadata xesam:url)" != "$first" ] || fail "next left $first in the metadata"
holds "($f_first - $f_next)^2 > 100^2" || fail "next heard as $f_first Hz, then $f_next Hz"

pc volume 0.5
heard 0.6 1.1
[ "$(pc volume)" = 0.500000 ] || fail "volume reads $(pc volume)"
ratio=$(calc "$rms / $rms_full")
holds "$ratio > 0.4 && $ratio < 0.6" || fail "volume 0.5 heard at $ratio of full"

pc pause
heard 0.5 0.9
[ "$(pc status)" = Paused ] || fail "status $(pc status) after pause"
holds "$rms < 0.001" || fail "paused, yet heard at $rms"
pc play
heard 0.5 0.9
holds "$rms > 0.01" || fail "not heard again after play: $rms"

soon '[ "$(pc metadata xesam:title)" = "Message: notice" ]' 150 ||
    fail "a message shows as $(pc metadata xesam:title)"

# A second zone takes a name of its own.
"${programs[0]}" --folder "$work/other" >/dev/null 2>&1 &
other=$!
soon 'playerctl -l | grep -qx "corvane.instance$other"' || fail "second not listed: $(playerctl -l)"
kill -INT "$other"

dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.corvane /org/mpris/MediaPlayer2 \
    org.mpris.MediaPlayer2.Quit >/dev/null
soon "! kill -0 $pid 2>/dev/null" || fail "Quit did not end the program"
grep -q '^MusicVolumeHigh=50' "$dir/corvane.ini" || fail "volume not stored: $(cat "$dir/corvane.ini")"
echo "ok on $server: $f_first Hz then $f_next Hz; volume 0.5 heard at $ratio of full"
