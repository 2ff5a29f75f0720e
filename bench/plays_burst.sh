#!/usr/bin/env bash
# How fast corvane-plays empties the backlog a broker kept for its session while it was away:
# 10,000 plays queued in a Mosquitto of its own (persistence on, saved every second, no queue
# limit) that lets 20 (its default) or 100 messages be in flight, stored on the collector's
# return into an empty SQLite file or PostgreSQL database (a server of its own). Per run, database
# and broker: seconds from the collector's start until the 10,000th row is committed (the row
# count polled every 20 ms) and its peak RSS by then. Per run and database: the floor, the same
# rows written by the database's own client (COPY FROM STDIN; sqlite3's INSERTs in one
# transaction, WAL and synchronous=FULL as the collector has them) into an empty table of the
# collector's DDL, and the RSS of a collector with nothing waiting, 2 s after its start. Prints
# each run's figures, then the medians and the ratio of the medians collector/floor.
# Usage: [RUNS=5] bench/plays_burst.sh [PROGRAM]
set -euo pipefail
runs=${RUNS:-5} count=10000
here=$(cd "$(dirname "$0")" && pwd)
collector=${1:-$here/../build/program/corvane-plays}
client=corvane-bench-plays topic='corvane/+/+/plays'
for tool in "$collector" mosquitto mosquitto_pub sqlite3 psql pg_dump pg_config runuser python3; do
    command -v "$tool" >/dev/null || { echo "plays_burst: needs $tool" >&2; exit 2; }
done
work=$(mktemp -d)
chmod 711 "$work"  # the PostgreSQL server, run as postgres, reaches its folders in it
pg_bin=$(pg_config --bindir) pg_dir=$work/pg sock=$work/pg/socket
pid='' pg_up='' brokers=()
declare -A ports secs peak floor idle
on_exit() {
    [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
    [ ${#brokers[@]} -eq 0 ] || kill "${brokers[@]}" 2>/dev/null || true
    [ -z "$pg_up" ] || runuser -u postgres -- "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate \
        stop >/dev/null 2>&1 || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap on_exit EXIT
trap 'exit 130' INT TERM  # through on_exit
fail() { echo "plays_burst: $*; the collector said: $(tail -n 3 "$work/collector.log" 2>/dev/null)" >&2; exit 1; }
now_us() { echo "${EPOCHREALTIME/./}"; }
since() { awk -v us=$(($(now_us) - $1)) 'BEGIN {printf "%.3f", us / 1e6}'; }  # seconds
kib() { awk -v k="$1" '/^Vm/ && $1 == k ":" {print $2}' "/proc/$pid/status"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
sql() { PGOPTIONS='-c client_min_messages=warning' psql -X -q -At -h "$sock" -U postgres "$@"; }

start_collector() {  # URL PORT
    "$collector" collect --broker "127.0.0.1:$2" --client-id "$client" --database "$1" \
        >"$work/collector.log" 2>&1 & pid=$!
}
# Ends the collector with SIGTERM, as a service manager would; it says how many it stored.
stop_collector() {  # STORED
    kill -TERM "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null && fail "no end on SIGTERM"
    wait "$pid" || fail "it ended with $?"; pid=''
    grep -q "^corvane.plays: $1 stored" "$work/collector.log" || fail "not $1 stored"
}
start_broker() {  # INFLIGHT: a broker of its own, with the collector's session registered
    local dir=$work/broker-$1 port i
    mkdir -p "$dir"
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf '%s\n' "listener $port 127.0.0.1" 'allow_anonymous true' 'persistence true' \
        "persistence_location $dir/" 'autosave_interval 1' 'max_queued_messages 0' \
        "max_inflight_messages $1" 'user root' "log_dest file $dir/log" 'log_type error' \
        'log_type subscribe' >"$dir/conf"
    mosquitto -c "$dir/conf" >"$dir/out" 2>&1 &
    brokers+=($!)
    for _ in $(seq 50); do mosquitto_pub -p "$port" -t corvane/bench/probe -n 2>/dev/null && break; sleep 0.1; done
    start_collector "sqlite:$dir/register.sqlite" "$port"
    for i in $(seq 101); do grep -qF " $client 1 $topic" "$dir/log" && break; sleep 0.1; done
    [ "$i" -le 100 ] || fail "no session on the broker: $(cat "$dir/out")"
    stop_collector 0
    ports[$1]=$port
}
url() { [ "$1" = sqlite ] && echo "sqlite:$work/plays.sqlite" || echo "postgresql://postgres@/plays?host=$sock"; }
rows() {  # DB NAME: 0 before the collector has made the table; read-only, so none is made here
    { if [ "$1" = sqlite ]; then sqlite3 "file:$work/$2.sqlite?mode=ro" 'SELECT count(*) FROM plays'
      else sql -d "$2" -c 'SELECT count(*) FROM plays'; fi; } 2>/dev/null || echo 0
}
empty() {  # DB NAME: an empty database for the collector (plays) or the floor
    if [ "$1" = sqlite ]; then rm -f "$work/$2.sqlite"*
    else sql -d postgres -c "DROP DATABASE IF EXISTS $2" -c "CREATE DATABASE $2"; fi
}
burst() {  # DB INFLIGHT RUN: sets took (s) and hwm (KiB)
    local t0 limit
    empty "$1" plays
    seq "$count" | awk -v tag="$3-$1-$2" '{s = 28800 + 3 * $1; printf "{\"id\":\"%s-%d\",\"time\":\"2026-12-06T%02d:%02d:%02d+01:00\",\"file\":\"a%d.mp3\",\"length_seconds\":12.04,\"outcome\":\"played\"}\n", tag, $1, s / 3600, s % 3600 / 60, s % 60, $1 % 40}' |
        mosquitto_pub -p "${ports[$2]}" -l -q 1 -t corvane/bench-host/zone-1/plays
    t0=$(now_us) limit=$(($(now_us) + 300000000))
    start_collector "$(url "$1")" "${ports[$2]}"
    while [ "$(rows "$1" plays)" -lt "$count" ]; do
        kill -0 "$pid" 2>/dev/null || fail "$1 collector ended before $count rows"
        [ "$(now_us)" -lt "$limit" ] || fail "$1 has $(rows "$1" plays) rows after 300 s"
        sleep 0.02
    done
    took=$(since "$t0")
    hwm=$(kib VmHWM)
    stop_collector "$count"
}
floor_of() {  # DB: the collector's rows again, by the database's client, into an empty table
    local t0
    empty "$1" floor
    if [ "$1" = sqlite ]; then
        { echo 'PRAGMA journal_mode=WAL;'; sqlite3 "$work/plays.sqlite" .schema; } |
            sqlite3 "$work/floor.sqlite" >/dev/null
        { echo 'PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; BEGIN;'
          sqlite3 "$work/plays.sqlite" '.mode insert plays' 'SELECT * FROM plays'
          echo 'COMMIT;'; } >"$work/rows.sql"
        t0=$(now_us)
        sqlite3 "$work/floor.sqlite" <"$work/rows.sql" >/dev/null
    else
        pg_dump -s -h "$sock" -U postgres -d plays | sql -d floor >/dev/null
        sql -d plays -c 'COPY plays TO STDOUT' >"$work/rows.tsv"
        t0=$(now_us)
        sql -d floor -c 'COPY plays FROM STDIN' <"$work/rows.tsv"
    fi
    took=$(since "$t0")
    [ "$(rows "$1" floor)" = "$count" ] || fail "the $1 floor has not $count rows"
}

mkdir -p "$sock" && chown -R postgres: "$pg_dir"
runuser -u postgres -- "$pg_bin/initdb" -D "$pg_dir/data" -U postgres -A trust >"$work/initdb.log" 2>&1 ||
    { cat "$work/initdb.log" >&2; exit 1; }
runuser -u postgres -- "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/log" -w \
    -o "-c listen_addresses='' -k $sock" start >/dev/null || { cat "$pg_dir/log" >&2; exit 1; }
pg_up=1
start_broker 20
start_broker 100
echo "== corvane-plays: $count plays waiting, $runs runs, $(nproc) cores, files on $(df --output=fstype "$work" | tail -1)"
for run in $(seq "$runs"); do
    inflight=(20 100)
    [ $((run % 2)) = 1 ] || inflight=(100 20)  # neither always first
    for db in sqlite postgresql; do
        line="run $run $db:"
        for n in "${inflight[@]}"; do
            burst "$db" "$n" "$run"
            secs[$db/$n]+=" $took" peak[$db/$n]+=" $hwm"
            line+=" $n in flight $took s (peak $((hwm / 1024)) MiB),"
        done
        floor_of "$db"
        floor[$db]+=" $took"
        start_collector "$(url "$db")" "${ports[20]}"  # nothing waits: the burst took it all
        sleep 2; rss=$(kib VmRSS); stop_collector 0
        idle[$db]+=" $rss"
        echo "$line floor $took s, idle $((rss / 1024)) MiB"
    done
done
echo "== medians of $runs runs"
printf '%-11s %9s %12s %8s %15s %13s %13s\n' database in-flight collector/s floor/s collector/floor \
    'peak RSS/MiB' 'idle RSS/MiB'
for db in sqlite postgresql; do
    for n in 20 100; do
        # shellcheck disable=SC2086  # the lists are words
        awk -v db="$db" -v n="$n" -v s="$(median ${secs[$db/$n]})" -v f="$(median ${floor[$db]})" \
            -v p="$(median ${peak[$db/$n]})" -v i="$(median ${idle[$db]})" \
            'BEGIN {printf "%-11s %9s %12.3f %8.3f %15.1f %13.1f %13.1f\n", db, n, s, f, s / f, p / 1024, i / 1024}'
    done
done
