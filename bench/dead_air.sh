#!/usr/bin/env bash
# Dead air, measured from what the program really plays through a null sink of a sound server of
# its own, against what its status (the web remote's GET /api/v1/status, polled every 100 ms with
# curl on the recording's clock) says meanwhile. Prints each run's figures, then their medians and
# ranges (dead_air.py).
#   CASE=alarm (default): Music/ holds a.wav (3 s of 440 Hz), b.wav (20 s of digital silence) and
#     c.wav (880 Hz), [Options] SilenceAlarmSeconds=$ALARM (5); once a.wav plays from its start
#     (Next Track until it does: the first file is drawn at random), from the output's silence:
#     when the status shows the problem, when sound comes back, and when the problem goes.
#   CASE=end | CASE=stall: Music/ holds radio.m3u, a station of a local Icecast (a 440 Hz tone),
#     and z.wav (880 Hz). 8 s after the station plays, its feeder is killed (end: Icecast drops the
#     listener) or stopped with a source timeout of 60 s (stall: connected, nothing comes); from
#     then: the station's last sound, the next file's first sound and when the status names it.
#   CASE=cpu: the program plays a minute's MP3 with SilenceAlarmSeconds=30 and with 0, in turn
#     (30, 0, 30, ...), as steady_play.sh plays it: CPU seconds until a second before the stop per
#     play, and the median ratio 30/0. COMPARE='COMMAND' runs COMMAND (sh -c) once instead, under
#     the same server, with $ALARM_ON and $ALARM_OFF set to a command line that plays for
#     SECONDS_PLAYED with 30 and with 0 (one folder each, kept for all its plays): for a timer of
#     whole processes.
# Usage: [SERVER=pulseaudio|pipewire] [CASE=alarm|end|stall|cpu] [RUNS=3 (cpu: 5)] [ALARM=5]
#        [SECONDS_PLAYED=60] [COMPARE=...] [KEEP=folder] bench/dead_air.sh [PROGRAM]
# KEEP keeps the last run's recording, polls, the program's standard error (and the station's stop
# on the wall clock) in that folder.
# shellcheck disable=SC2016  # what soon and on_exit are given is code, run later
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sound_server.sh
. "$here/sound_server.sh" "$@"
# shellcheck source=icecast.sh
. "$here/icecast.sh"
case=${CASE:-alarm}
runs=${RUNS:-3}
seconds=${SECONDS_PLAYED:-60}
rate=44100
export QT_QPA_PLATFORM=offscreen
# when the silence watch and the streams change, on the wall clock
export QT_LOGGING_RULES="corvane.silence.info=true;corvane.media.info=true"
export QT_MESSAGE_PATTERN="%{time hh:mm:ss.zzz} %{category}: %{message}"

pid='' poller='' feeder=''
on_exit='[ -z "$poller" ] || kill "$poller"; [ -z "$pid" ] || kill -KILL "$pid"
         [ -z "$feeder" ] || kill -KILL "$feeder"; icecast_stop'
fail() { echo "dead_air: $*" >&2; exit 1; }

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
key=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
api() { curl -sf -m 2 -H "Authorization: Bearer $key" -X "$1" "http://127.0.0.1:$port/api/v1/$2"; }
music_file() { api GET status | jq -r .music.file; }

# folder OPTIONS: a program folder with the [Options] lines OPTIONS and, but for the CPU, the web
# remote; prints it
folder() {
    local dir="$work/corvane-bench-$RANDOM"
    mkdir -p "$dir/Music" "$dir/Messages"
    cp "${programs[0]}" "$dir/corvane-bench"
    printf '[Settings]\r\nMessageInterval=0\r\n[Options]\r\n%bMusicOrder=Name\r\n' "$1" > "$dir/corvane-bench.ini"
    [ "$case" = cpu ] ||
        printf '[Remote]\r\nWebPort=%s\r\nWebLan=0\r\nWebKey=%s\r\n' "$port" "$key" >> "$dir/corvane-bench.ini"
    echo "$dir"
}

# The status every 100 ms into $work/polls: the wall clock after the recording's size is read, the
# wall clock once the answer is in, the size, the answer.
poll() {
    local next=${EPOCHREALTIME/./} size sized body rest
    while :; do
        size=$(stat -c %s "$work/rec.raw")
        sized=$EPOCHREALTIME
        body=$(api GET status | tr -d '\n' || true)
        echo "$sized $EPOCHREALTIME $size $body"
        next=$((next + 100000))
        rest=$((next - ${EPOCHREALTIME/./}))
        [ "$rest" -le 0 ] || sleep "$(printf '0.%06d' "$rest")"
    done > "$work/polls"
}

# play DIR: starts the program of DIR, recorded, with its status polled
play() {
    keep_sink_busy
    record "$work/rec.raw"
    sleep 0.3
    "$1/corvane-bench" 2> "$work/program.log" &
    pid=$!
    soon 'api GET status >/dev/null' || fail "no status from the web remote: $(tail -3 "$work/program.log")"
    poll &
    poller=$!
}

# until FILE plays from its start: Next Track while another plays
play_first() {
    local now tries=0
    soon '[ -n "$(music_file)" ]' || fail "nothing plays: $(tail -3 "$work/program.log")"
    now=$(music_file)
    while [ "$now" != "$1" ]; do
        tries=$((tries + 1))
        [ $tries -le 6 ] || fail "$1 never played: $(tail -3 "$work/program.log")"
        api POST next >/dev/null || true
        soon '[ "$(music_file)" != "$now" ]' 30 || true
        now=$(music_file)
    done
}

# the program ends (SIGINT, then SIGKILL after 5 s), the polls and the recording too
finish() {
    kill -INT "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null && echo "dead_air: the program did not end on SIGINT" >&2
    wait "$pid" 2>/dev/null || true
    pid=''
    if [ -n "$poller" ]; then
        kill "$poller"
        wait "$poller" 2>/dev/null || true
        poller=''
    fi
    stop_recording
    grep -E 'corvane.silence|stream' "$work/program.log" | sed 's/^/  program: /' || true
    if [ -n "${KEEP:-}" ]; then
        mkdir -p "$KEEP"
        cp "$work"/{rec.raw,polls,program.log,stopped} "$KEEP/" 2>/dev/null || true  # no stop: alarm
    fi
}

alarm_run() {
    local dir
    dir=$(folder "SilenceAlarmSeconds=${ALARM:-5}\r\n")
    sox -n -r $rate -c 2 "$dir/Music/a.wav" synth 3 sine 440 vol 0.5
    sox -n -r $rate -c 2 "$dir/Music/b.wav" trim 0 20
    sox -n -r $rate -c 2 "$dir/Music/c.wav" synth 30 sine 880 vol 0.5
    play "$dir"
    play_first a.wav
    # until the problem has come and gone again, a second more
    soon 'api GET status | jq -e ".problems | any(contains(\"silence\"))" >/dev/null' \
        $((${ALARM:-5} * 10 + 100)) || echo "dead_air: the alarm never came" >&2
    soon '! api GET status | jq -e ".problems | any(contains(\"silence\"))" >/dev/null' 100 ||
        echo "dead_air: the alarm never went" >&2
    sleep 1
    finish
    python3 "$here/dead_air.py" alarm "$work/rec.raw" "$work/polls" --figures "$work/figures"
    rm -rf "$dir"
}

radio_run() {
    local dir mount="station-$RANDOM.mp3" stopped
    feeder=$(icecast_feed "$mount" 440) || fail "no station"
    dir=$(folder "")
    printf 'http://127.0.0.1:%s/%s\n' "$ICECAST_PORT" "$mount" > "$dir/Music/radio.m3u"
    sox -n -r $rate -c 2 "$dir/Music/z.wav" synth 30 sine 880 vol 0.5
    play "$dir"
    play_first radio.m3u
    sleep 8
    stopped=$EPOCHREALTIME
    echo "$stopped" > "$work/stopped"
    if [ "$case" = end ]; then kill -KILL "$feeder"; else kill -STOP "$feeder"; fi
    soon '[ "$(music_file)" = z.wav ]' 300 || echo "dead_air: z.wav never played" >&2
    sleep 2
    finish
    kill -KILL "$feeder" 2>/dev/null || true
    feeder=''
    python3 "$here/dead_air.py" radio "$work/rec.raw" "$work/polls" "$stopped" --figures "$work/figures"
    rm -rf "$dir"
}

# cpu_play DIR: CPU seconds of the program of DIR, playing SECONDS_PLAYED, until a second before
# the stop
cpu_play() {
    local stat
    keep_sink_busy
    record "$work/rec.raw"
    sleep 0.3
    "$1/corvane-bench" 2> "$work/program.log" &
    pid=$!
    sleep $((seconds - 1))
    stat=$(sed 's/.*) //' "/proc/$pid/stat") || fail "the program ended: $(tail -3 "$work/program.log")"
    sleep 1
    finish >/dev/null
    calc "$(awk '{print $12 + $13}' <<< "$stat") / $(getconf CLK_TCK)"
}

cpu() {
    local on off
    sox -n -r $rate -c 2 "$work/tone.wav" synth $((seconds + 10)) sine 440 vol 0.3
    on=$(folder "SilenceAlarmSeconds=30\r\n")
    off=$(folder "SilenceAlarmSeconds=0\r\n")
    lame --quiet "$work/tone.wav" "$on/Music/tone.mp3"
    cp "$on/Music/tone.mp3" "$off/Music/tone.mp3"
    if [ -n "${COMPARE:-}" ]; then
        keep_sink_busy
        record "$work/rec.raw"
        ALARM_ON="timeout -s INT $seconds $on/corvane-bench" \
            ALARM_OFF="timeout -s INT $seconds $off/corvane-bench" sh -c "$COMPARE"
        stop_recording
        return
    fi
    for run in $(seq "$runs"); do
        a=$(cpu_play "$on") b=$(cpu_play "$off")
        echo "-- run $run: CPU $a s with SilenceAlarmSeconds=30, $b s with 0: ratio $(calc "$a / $b")"
        echo "$a $b" >> "$work/figures"
    done
    python3 -c '
import statistics, sys
rows = [[float(v) for v in line.split()] for line in open(sys.argv[1])]
ratios = [a / b for a, b in rows]
print("== medians: CPU %.2f s with 30, %.2f s with 0; ratio %.3f (%.3f to %.3f)" % (
    statistics.median(r[0] for r in rows), statistics.median(r[1] for r in rows),
    statistics.median(ratios), min(ratios), max(ratios)))' "$work/figures"
}

start_server
case $case in
    alarm) run=alarm_run ;;
    end | stall)
        run=radio_run
        # stalled, the station keeps its listeners for as long as it may be silent
        [ "$case" = end ] || export ICECAST_SOURCE_TIMEOUT=${ICECAST_SOURCE_TIMEOUT:-60}
        icecast_start "$work/icecast" || exit 1 ;;
    cpu)
        runs=${RUNS:-5}
        echo "== ${programs[0]} on $server, SilenceAlarmSeconds=30 against 0, $seconds s per play"
        cpu
        exit 0 ;;
    *) fail "no case $case" ;;
esac
echo "== ${programs[0]} on $server, $case"
for i in $(seq "$runs"); do
    echo "-- run $i"
    $run
done
echo "== medians over $runs runs ($server, $case)"
python3 "$here/dead_air.py" medians "$work/figures"
