# Sourced by the benchmarks that play internet radio: an Icecast server of their own on 127.0.0.1,
# whose stations send a sine tone as 128 kbit/s MP3 through GStreamer's shout2send, as a real
# station's encoder would.
#   icecast_start DIR      the server, its configuration and log in DIR; exports ICECAST_PORT and
#                          ICECAST_PASSWORD (the source password)
#   icecast_feed MOUNT HZ [AMPLITUDE]
#                          a station on http://127.0.0.1:$ICECAST_PORT/MOUNT, on the air once this
#                          returns; prints its pid: `kill -KILL` it for a station that dies
#   icecast_stop           ends the stations and the server
#   icecast_live MOUNT     whether MOUNT is on the air: it answers and sends audio
# Each returns non-zero, saying why, when it fails. The caller runs icecast_stop on its way out,
# e.g. from the `on_exit` of sound_server.sh.

icecast_dir=''

icecast_live() {
    [ "$({ curl -sf -m 1 "http://127.0.0.1:$ICECAST_PORT/$1" 2>/dev/null || true; } |
        head -c 1 | wc -c)" -gt 0 ]
}

icecast_start() {
    local user='' token port pid status
    mkdir -p "$1"
    icecast_dir=$(cd "$1" && pwd)  # the server's paths are taken as they are
    : > "$icecast_dir/pids"  # the server and the stations: icecast_feed runs in $(...)
    command -v icecast2 >/dev/null || { echo "icecast_start: needs icecast2" >&2; return 1; }
    ICECAST_PASSWORD=$(od -An -N8 -tx8 /dev/urandom | tr -d ' ')
    # Icecast refuses to run as root unless it may drop to another user. It logs to its standard
    # error, which this shell opens, so that user needs no folder of its own.
    [ "$(id -u)" -ne 0 ] ||
        user='<changeowner><user>nobody</user><group>nogroup</group></changeowner>'
    # Its own answer, not another server's that took the port first: the location names it.
    token="corvane-bench-$$-$RANDOM"
    for _ in 1 2 3; do
        port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
        # ICECAST_SOURCE_TIMEOUT (seconds, default 3) keeps a stalled station's listeners longer.
        sed -e "s|@LOCATION@|$token|" -e "s|@PASSWORD@|$ICECAST_PASSWORD|g" -e "s|@PORT@|$port|" \
            -e "s|@DIR@|$icecast_dir|g" -e "s|@OWNER@|$user|" \
            -e "s|@SOURCE_TIMEOUT@|${ICECAST_SOURCE_TIMEOUT:-3}|" \
            "$(dirname "${BASH_SOURCE[0]}")/../tests/common/icecast.xml" > "$icecast_dir/icecast.xml"
        # In the foreground: it is this shell's child, and the pid is the server's.
        icecast2 -c "$icecast_dir/icecast.xml" >>"$icecast_dir/icecast.log" 2>&1 &
        pid=$!
        echo "$pid" >> "$icecast_dir/pids"
        for _ in $(seq 100); do
            status=$(curl -s -m 1 "http://127.0.0.1:$port/status-json.xsl" 2>/dev/null || true)
            if [[ $status == *"$token"* ]]; then
                export ICECAST_PORT=$port ICECAST_PASSWORD
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break  # the port was taken: another one
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    echo "icecast_start: icecast2 never listened: $(tail -n 8 "$icecast_dir/icecast.log")" >&2
    return 1
}

icecast_feed() {
    local mount=${1#/} hz=$2 amplitude=${3:-0.5} log pid
    [ -n "${ICECAST_PORT:-}" ] ||
        { echo "icecast_feed: no server: icecast_start first" >&2; return 1; }
    log="$icecast_dir/feed-${mount//\//_}.log"
    # Live, so that the station sends in real time, as one on the air does; its output goes to a
    # file, or a caller's $(...) would wait for it to end.
    gst-launch-1.0 -q audiotestsrc is-live=true wave=sine freq="$hz" volume="$amplitude" ! \
        audio/x-raw,rate=44100,channels=2 ! audioconvert ! \
        lamemp3enc target=bitrate bitrate=128 cbr=true ! \
        shout2send ip=127.0.0.1 port="$ICECAST_PORT" mount="/$mount" password="$ICECAST_PASSWORD" \
        >"$log" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >> "$icecast_dir/pids"
    for _ in $(seq 100); do
        if icecast_live "$mount"; then
            echo "$pid"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    echo "icecast_feed: /$mount never came on the air: $(tail -n 5 "$log")" >&2
    return 1
}

icecast_stop() {
    [ -n "$icecast_dir" ] && [ -f "$icecast_dir/pids" ] || return 0
    local pid command
    # The stations first, so that the server sees them go; only those still running as what was
    # started, for the pid of one that has ended may be another process's by now.
    {
        for pid in $(tac "$icecast_dir/pids"); do
            command=$(tr '\0' ' ' 2>/dev/null < "/proc/$pid/cmdline" || true)
            case $command in
                icecast2\ * | */icecast2\ * | gst-launch-1.0\ * | */gst-launch-1.0\ *)
                    kill -KILL "$pid" || true
                    wait "$pid" || true ;;  # this shell's own child, when it started it itself
            esac
        done
    } 2>/dev/null
    : > "$icecast_dir/pids"
}
