# Sourced by the benchmarks, with their arguments: a sound server of their own with a null sink
# "bench", in a private runtime folder. SERVER=pulseaudio (the default) or SERVER=pipewire
# (pipewire, wireplumber and pipewire-pulse, as on Debian 12's desktop). Both speak the PulseAudio
# protocol to the program. Sets `programs` (the arguments, or the build's program) and `work` (a
# folder removed at the end, with the server and what the benchmark left running).
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=("$(dirname "${BASH_SOURCE[0]}")/../build/program/corvane")
work=$(mktemp -d)
server_pids=()  # the sound server's processes, when this script started them itself
feeders=()      # the recording and the stream of zeros into the sink
server=${SERVER:-pulseaudio}
export XDG_RUNTIME_DIR=${BENCH_RUNTIME:-$(mktemp -d)}
export PULSE_RUNTIME_PATH=$XDG_RUNTIME_DIR/pulse
mkdir -p "$PULSE_RUNTIME_PATH"

start_server() {
    case $server in
        pulseaudio)
            pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
                --load="module-null-sink sink_name=bench" \
                --load="module-native-protocol-unix" >/dev/null 2>&1 ;;
        pipewire)
            # wireplumber, which links the streams, wants a session bus
            if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
                { read -r DBUS_SESSION_BUS_ADDRESS; read -r bench_bus; } \
                    < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
                export DBUS_SESSION_BUS_ADDRESS
            fi
            pipewire >/dev/null 2>&1 &
            server_pids=($!)
            sleep 0.2
            wireplumber >/dev/null 2>&1 &
            server_pids+=($!)
            pipewire-pulse >/dev/null 2>&1 &
            server_pids+=($!)
            for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
            # a server that has just started may time the first requests out, or never answer them
            for _ in $(seq 10); do
                timeout 3 pactl load-module module-null-sink sink_name=bench >/dev/null 2>&1 && break
                sleep 0.2
            done ;;
    esac
    for _ in $(seq 50); do pactl list short sinks 2>/dev/null | grep -q bench && break; sleep 0.05; done
    # PipeWire keeps the default in its session manager, which may not be there yet
    for _ in $(seq 100); do pactl set-default-sink bench 2>/dev/null && break; sleep 0.05; done
}

stop_server() {
    case $server in
        pulseaudio) pulseaudio -k 2>/dev/null || true ;;
        pipewire) [ ${#server_pids[@]} -eq 0 ] || kill "${server_pids[@]}" 2>/dev/null || true
                  server_pids=() ;;
    esac
    sleep 0.3
}

# A program folder: PROGRAM as corvane-bench, a minute of 400 Hz music and a second of 1200 Hz
# message every 4 seconds; prints the folder.
duck_folder() {
    local dir="$work/corvane-bench-$RANDOM"
    mkdir -p "$dir/Music" "$dir/Messages"
    cp "$1" "$dir/corvane-bench"
    sox -n -r 44100 -c 2 "$dir/Music/music.wav" synth 60 sine 400 vol 0.5
    sox -n -r 44100 -c 2 "$dir/Messages/message.wav" synth 1 sine 1200 vol 0.5
    printf '[Settings]\r\nMessageInterval=4\r\n' > "$dir/corvane-bench.ini"
    echo "$dir"
}

# A stream of zeros into the sink, so that its monitor sends silence too and silences are recorded;
# with a short latency, or the sink renders seconds at a time and the recording comes in bursts.
keep_sink_busy() {
    pacat -d bench --latency-msec=20 --raw --format=s16le --rate=44100 --channels=2 < /dev/zero &
    feeders+=($!)
}
# Returns once the recording runs: a server may take a second or two to send the first samples, and
# what plays before then would be missing from the start of the recording.
record() {
    parec -d bench.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=10 > "$1" &
    feeders+=($!)
    for _ in $(seq 100); do [ -s "$1" ] && break; sleep 0.05; done
}
# Ends the recording and the stream of zeros: only this script's own, for another script may be
# recording from a server of its own on the same machine.
stop_recording() {
    # wait: the recording is whole once this returns; both say a process ended by a signal
    [ ${#feeders[@]} -eq 0 ] || { kill "${feeders[@]}"; wait "${feeders[@]}"; } 2>/dev/null || true
    feeders=()
}

# For the tests that record with `record "$work/rec.raw"`, and define `fail MESSAGE`:
calc() { awk "BEGIN { print $* }"; }
holds() { awk "BEGIN { exit !($*) }"; }
# Whether a condition comes true within N tenths of a second (100).
soon() { for _ in $(seq "${2:-100}"); do eval "$1" && return; sleep 0.1; done; false; }
# Sets rms (of full scale 1) and hz to what the left channel is heard as from A to B seconds from
# now, once it has been.
heard() {
    local t
    t=$(calc "$(stat -c %s "$work/rec.raw") / (44100 * 4)")
    sleep "$(calc "$2 + 0.1")"
    read -r rms hz < <(sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/rec.raw" -n \
        trim "$(calc "$t + $1")" ="$(calc "$t + $2")" remix 1 stat 2>&1 |
        awk '/^RMS +amplitude/ { r = $3 } /^Rough +frequency/ { f = $3 }
             END { if (r ~ /^[0-9.]+$/) print r, f }') || fail "nothing recorded $1 s to $2 s on"
}

# `on_exit`, when the caller sets it, runs first: what it started goes before the sound server.
trap 'eval "${on_exit:-true}" 2>/dev/null || true
      pkill -f "$work/corvane-bench" 2>/dev/null || true
      ! pgrep -f "$work/corvane-bench" >/dev/null || { sleep 0.5; pkill -KILL -f "$work/corvane-bench"; } 2>/dev/null || true  # a hung one
      stop_recording
      stop_server; [ -z "${bench_bus:-}" ] || kill "$bench_bus" 2>/dev/null
      rm -rf "$work" "$XDG_RUNTIME_DIR"' EXIT
