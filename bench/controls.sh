#!/usr/bin/env bash
# Measures, from what the program really plays through a null sink of a sound server of its own,
# what the controls do to the sound: Next Track (how soon the tune fades and the next one starts,
# and the gap between), Pause and Resume inside the fade down before a message (the level held
# and taken up again) and inside the message (silence, and the rest of it heard once), all asked
# for through the web remote as a user's phone would. Music: two tunes (400 and 500 Hz), a message
# (1200 Hz, 2 s) every 8 s.
# Usage: [SERVER=pulseaudio|pipewire] bench/controls.sh [PROGRAM]
# shellcheck source=sound_server.sh
set -uo pipefail
here=$(dirname "$0")
. "$here/sound_server.sh"
port=18473
post() { curl -sf -X POST -H "Authorization: Bearer k" "http://127.0.0.1:$port/api/v1/$1" >/dev/null; }
status() { curl -sf -H "Authorization: Bearer k" "http://127.0.0.1:$port/api/v1/status"; }
field() { python3 -c "import json,sys; d=json.load(sys.stdin); print($1)" 2>/dev/null; }
now() { date +%s.%N; }
mark() { echo "$1 $(now)" >> "$work/marks"; }

trap 'pkill -f "$work/corvane-bench" 2>/dev/null; stop_recording; stop_server
      [ -z "${bench_bus:-}" ] || kill "$bench_bus" 2>/dev/null; rm -rf "$work" "$XDG_RUNTIME_DIR"' EXIT
start_server
dir="$work/corvane-bench-dir"
mkdir -p "$dir/Music" "$dir/Messages"
cp "${programs[0]}" "$dir/corvane-bench"
sox -n -r 44100 -c 2 "$dir/Music/a.wav" synth 40 sine 400 vol 0.5
sox -n -r 44100 -c 2 "$dir/Music/b.wav" synth 40 sine 500 vol 0.5
sox -n -r 44100 -c 2 "$dir/Messages/m.wav" synth 2 sine 1200 vol 0.5
printf '[Settings]\r\nMessageInterval=8\r\n[Remote]\r\nWebPort=%s\r\nWebLan=0\r\nWebKey=k\r\n' \
    "$port" > "$dir/corvane-bench.ini"
echo "== ${programs[0]} on $server"
keep_sink_busy
record "$work/rec.raw"
mark recording
QT_QPA_PLATFORM=offscreen "$dir/corvane-bench" 2>/dev/null &
soon 'status >/dev/null' 100 || { echo "the web remote did not answer"; exit 1; }
# The list starts at a random entry: whichever tune plays, Next Track goes to the other.
sleep 2
mark next; post next
# The fade down begins on the tick whose count reaches the interval: the count starts again there.
soon '[ "$(status | field "d[\"nextMessageSeconds\"]")" -le 1 ]' 150
soon '[ "$(status | field "d[\"nextMessageSeconds\"]")" -gt 2 ]' 40
sleep 0.4
mark pause-fade; post pause; sleep 1
mark resume-fade; post resume
soon '[ -n "$(status | field "d[\"message\"][\"file\"]")" ]' 50
sleep 0.8
mark pause-message; post pause; sleep 1
mark resume-message; post resume
sleep 4
stop_recording
python3 - "$work/rec.raw" "$work/marks" <<'PY'
import array, math, sys
raw, marks = sys.argv[1], sys.argv[2]
a = array.array('h'); a.frombytes(open(raw, 'rb').read())
left = a[0::2]
W = 441  # 10 ms
def level(hz):
    out = []
    k = 2 * math.cos(2 * math.pi * hz / 44100)
    for s in range(0, len(left) - W, W):
        p = q = 0.0
        for x in left[s:s + W]:
            p, q = x / 32768 + k * p - q, p
        out.append(math.sqrt(max(p * p + q * q - k * p * q, 0)) * 2 / W)
    return out
t = {}
for line in open(marks):
    name, at = line.split(); t[name] = float(at)
w = lambda name: int(round((t[name] - t['recording']) * 100))
tunes = {hz: level(hz) for hz in (400, 500)}
msg = level(1200)
full = max(max(v) for v in tunes.values())
mfull = max(msg)
n = w('next')
old = max(tunes, key=lambda hz: sum(tunes[hz][n - 30:n]))
new = 500 if old == 400 else 400
fell = next(i for i in range(n, len(msg)) if tunes[old][i] < 0.05 * full)
rose = next(i for i in range(n, len(msg)) if tunes[new][i] > 0.5 * full)
print("next track: the tune below 5%% %d ms after it was asked for, the next one at half %d ms "
      "after, a gap of %d ms" % ((fell - n) * 10, (rose - n) * 10, (rose - fell) * 10))
music = [max(tunes[400][i], tunes[500][i]) for i in range(len(msg))]
def pause(name, resume):
    p, r = w(name), w(resume)
    silent = next(i for i in range(p, r) if all(music[j] < 0.02 * full and msg[j] < 0.02 * mfull for j in range(i, i + 30)))
    back = next(i for i in range(r, len(msg)) if music[i] > 0.02 * full or msg[i] > 0.02 * mfull)
    before = music[silent - 2] / full * 100
    after = music[back + 2] / full * 100
    return silent - p, back - r, before, after
s, b, before, after = pause('pause-fade', 'resume-fade')
print("pause in the fade down: silent %d ms after it was asked for, music at %.0f%% when it stopped "
      "and %.0f%% when it came back %d ms after the resume" % (s * 10, before, after, b * 10))
low = [music[i] / full * 100 for i in range(len(msg)) if msg[i] > 0.5 * mfull]
print("music under the message: %.0f%% (median)" % sorted(low)[len(low) // 2])
s, b, before, after = pause('pause-message', 'resume-message')
heard = sum(1 for x in msg if x > 0.5 * mfull)
print("pause in the message: silent %d ms after it was asked for, sound again %d ms after the "
      "resume; the message heard for %d ms of its 2000" % (s * 10, b * 10, heard * 10))
PY
