#!/usr/bin/env bash
# The collector of plays against a Mosquitto broker and a database of its own: every play sent is
# stored once and as sent, through kills of the collector, plays sent twice, a database that goes
# away and payloads that are not plays; the reports count what was sent; the exit statuses.
# Usage: DATABASE=sqlite|postgresql [KILLS=5] collect.sh PROGRAM   (SEED=N repeats a run's random choices)
# shellcheck disable=SC2016  # what soon is given is code, run later
set -euo pipefail
program=$1
kind=${DATABASE:-sqlite}
py=/usr/bin/python3
seed=${SEED:-$RANDOM}
RANDOM=$seed
work=$(mktemp -d)
chmod 711 "$work"  # PostgreSQL's folder is inside, and it does not run as us
client=plays-test-$$
pid='' broker='' streams=() pg='' runs=0
cleanup() {
    # shellcheck disable=SC2086  # the empty ones are left out
    { kill -9 $pid "${streams[@]}" $broker; wait; } 2>/dev/null || true
    [ -z "$pg" ] || as_pg "$bin/pg_ctl" -D "$pg/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($kind, SEED=$seed): $*" >&2
    [ "$runs" = 0 ] || echo "collector: $(tail -n 5 "$work/collector-$runs.log")" >&2
    exit 1
}
soon() { for _ in $(seq "$2"); do eval "$1" && return; sleep 0.1; done; false; }
free_port() { $py -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
as_pg() { (cd / && runuser -u postgres -- "$@"); }
pg_start() { as_pg "$bin/pg_ctl" -D "$pg/data" -l "$pg/log" -w -o "-c listen_addresses='' -k $pg" start >/dev/null; }
plays() { $py "$work/plays.py" "$@"; }
# Plays published in the background, and the wait for them all to be.
stream() { $py "$work/plays.py" "$@" & streams+=($!); }
published() { for s in "${streams[@]}"; do wait "$s" || fail "plays could not be published"; done; streams=(); }
query() {
    if [ "$kind" = sqlite ]; then sqlite3 -separator $'\t' "$work/plays.sqlite" "$1"
    else PGTZ=UTC psql -h "$pg" -U postgres -d plays -XAt -F $'\t' -c "$1"; fi
}
collect() {
    runs=$((runs + 1))
    "$program" collect --broker "127.0.0.1:$port" --database "$url" --client-id "$client" >"$work/collector-$runs.log" 2>&1 &
    pid=$!
}
alive() { [[ $(ps -o stat= -p "$pid") == [^Z]* ]] || fail "the collector ended $1"; }
term() {
    local status=0
    kill -TERM "$pid" && wait "$pid" || status=$?
    pid=''
    [ "$status" = 0 ] || fail "SIGTERM $1 ended the collector with status $status"
}
# Waits for the table to hold as many plays as were sent, then compares them one by one.
stored_as_sent() {
    local want
    want=$(plays count)
    soon '[ "$(query "SELECT COUNT(*) FROM plays" 2>/dev/null)" = "$want" ]' 300 || true
    query 'SELECT id, host, zone, time, local_date, file, length_seconds, outcome FROM plays' |
        plays check >"$work/check" 2>&1 || fail "$1: $(cat "$work/check")"
}

# Plays made up, published and checked; what was sent is kept in sent-NAME.json.
cat >"$work/plays.py" <<'PY'
import csv, datetime, decimal, glob, json, os, random, subprocess, sys, time
work, what, args = os.environ["work"], sys.argv[1], sys.argv[2:]
rng = random.Random(os.environ["seed"] + " ".join(sys.argv))
sent = {p["id"]: p for name in glob.glob(work + "/sent-*.json") for p in json.load(open(name))}
# Capitals, letters beyond ASCII, commas and quotes: byte order and CSV quoting.
FILES = ["Opening hours.mp3", "closing.mp3", "Sale, 20% off.mp3", 'Say "cheese".mp3', "Ärger.mp3",
         'Late, "very" late.mp3', "Christmas market — open until 22:00 every Friday.mp3"]
if what == "new":  # NAME COUNT SECONDS
    plays = [{"id": "%s-%d" % (args[0], i), "host": rng.choice(["shop-1", "shop-2", "Kiosk"]),
              "zone": rng.choice(["floor", "café"]), "file": rng.choice(FILES),
              "time": "2026-12-%02dT%02d:%02d:00%s" % (rng.randint(4, 9), rng.randrange(24), rng.randrange(60),
                                                       rng.choice(["+01:00", "-05:00", "+09:00", "Z"])),
              "length_seconds": rng.randint(50, 6000) / 100,
              "outcome": rng.choice(["played"] * 5 + ["cut short", "failed", "missed"])} for i in range(int(args[1]))]
    json.dump(plays, open("%s/sent-%s.tmp" % (work, args[0]), "w"))
    os.rename("%s/sent-%s.tmp" % (work, args[0]), "%s/sent-%s.json" % (work, args[0]))
elif what == "again":  # COUNT SECONDS: plays already sent, some twice
    plays = rng.choices(list(sent.values()), k=int(args[0]))
if what in ("new", "again"):  # one mosquitto_pub a topic, fed line by line over SECONDS
    pubs, pause = {}, float(args[-1]) * 25 / len(plays)
    for i, p in enumerate(plays):
        topic = "corvane/%s/%s/plays" % (p["host"], p["zone"])
        if topic not in pubs:
            pubs[topic] = subprocess.Popen(["mosquitto_pub", "-p", os.environ["port"], "-l", "-q", "1", "-t", topic],
                                           stdin=subprocess.PIPE)
        payload = {k: p[k] for k in ("id", "time", "file", "length_seconds", "outcome")}
        pubs[topic].stdin.write(json.dumps(payload, ensure_ascii=False).encode() + b"\n")
        if pause and i % 25 == 24:
            [pub.stdin.flush() for pub in pubs.values()]
            time.sleep(pause)
    [pub.stdin.close() for pub in pubs.values()]
    sys.exit(any([pub.wait() for pub in pubs.values()]))
elif what == "count":
    print(len(sent))
elif what == "check":  # rows of id, host, zone, time, local_date, file, length_seconds, outcome
    rows, seen, twice = [line.rstrip("\n").split("\t") for line in sys.stdin], set(), set()
    for r in rows:
        (twice if r[0] in seen else seen).add(r[0])
    same = lambda r, p: (r[1:3] + r[4:6] + r[7:] == [p["host"], p["zone"], p["time"][:10], p["file"], p["outcome"]]
                         and datetime.datetime.fromisoformat(r[3]) == datetime.datetime.fromisoformat(p["time"])
                         and abs(float(r[6]) - p["length_seconds"]) < 1e-9)
    wrong = [r for r in rows if r[0] in sent and not same(r, sent[r[0]])]
    missing, extra = sorted(set(sent) - seen), sorted(seen - set(sent))
    if missing or extra or twice or wrong:
        sys.exit("of %d sent, %d missing %s, %d not sent %s, %d twice %s, %d not as sent %s" % (len(sent),
                 len(missing), missing[:5], len(extra), extra[:5], len(twice), sorted(twice)[:5], len(wrong), wrong[:2]))
elif what == "expect":  # BY FROM TO: the report's CSV, summed in decimal
    totals = {}
    for p in sent.values():
        day = p["time"][:10]
        if p["outcome"] == "played" and args[1] <= day <= args[2]:
            key = {"file": p["file"], "zone": p["host"] + "/" + p["zone"], "day": day}[args[0]]
            n, s = totals.get(key, (0, 0))
            totals[key] = (n + 1, s + decimal.Decimal(repr(p["length_seconds"])))
    out = csv.writer(sys.stdout, lineterminator="\n")
    out.writerow(["key", "plays", "seconds"])
    out.writerows([k, n, s.quantize(decimal.Decimal("0.01"))] for k, (n, s) in sorted(totals.items(),
                  key=lambda item: item[0].encode()))
PY

port=$(free_port)
export work port seed
mkdir "$work/broker"
printf '%s\n' "listener $port 127.0.0.1" 'allow_anonymous true' 'persistence true' \
    "persistence_location $work/broker/" 'autosave_interval 1' 'max_queued_messages 0' 'user root' \
    'log_type error' 'log_type subscribe' >"$work/broker.conf"
mosquitto -c "$work/broker.conf" >"$work/broker.log" 2>&1 &
broker=$!
soon 'mosquitto_pub -p "$port" -t corvane/probe -n 2>/dev/null' 50 || fail "no broker: $(cat "$work/broker.log")"
url="sqlite:$work/plays.sqlite"
unreachable="sqlite:$work/broker.conf/plays.sqlite"
if [ "$kind" = postgresql ]; then
    bin=$(pg_config --bindir) pg=$work/pg
    mkdir "$pg" && chown postgres: "$pg"
    as_pg "$bin/initdb" -D "$pg/data" -U postgres -A trust -N >"$work/initdb.log" 2>&1 || fail "$(cat "$work/initdb.log")"
    pg_start
    as_pg "$bin/createdb" -h "$pg" -U postgres plays
    url="postgresql://postgres@/plays?host=$pg"
    unreachable="postgresql://postgres@/plays?host=$work/nowhere"
fi

started=$SECONDS
while IFS='|' read -r want why arguments; do
    status=0
    # shellcheck disable=SC2086  # the arguments are words without spaces
    timeout 20 "$program" $arguments >"$work/status.log" 2>&1 || status=$?
    [ "$status" = "$want" ] || fail "status $status, not $want, for $why: $(cat "$work/status.log")"
done <<EOF
2|--by nonsense|report --database $url --from 2026-12-05 --to 2026-12-08 --by nonsense
1|a broker at a closed port|collect --broker 127.0.0.1:$(free_port) --database $url --client-id $client-x
1|a database that cannot be reached|collect --broker 127.0.0.1:$port --database $unreachable --client-id $client-x
EOF

# Payloads that are not plays among plays: skipped with a warning, and the plays after them stored.
collect
# Only from its subscription on does the broker keep plays for the collector.
soon 'grep -qF "$client 1 corvane/+/+/plays" "$work/broker.log"' 100 || fail "the collector did not subscribe"
stream new a 600 1
while IFS=$'\t' read -r topic payload; do
    mosquitto_pub -p "$port" -q 1 -t "$topic" -m "$payload"
done <<'EOF'
corvane/shop-1/floor/plays	not JSON
corvane//floor/plays	{"id":"bad-host","time":"2026-12-06T17:05:00Z","file":"x.mp3","length_seconds":1.5,"outcome":"played"}
corvane/shop-1/floor/plays	{"id":"bad-time","time":"2026-12-06 17:05","file":"x.mp3","length_seconds":1.5,"outcome":"played"}
corvane/shop-2/floor/plays	{"id":"bad-length","time":"2026-12-06T17:05:00Z","file":"x.mp3","outcome":"played"}
corvane/shop-2/café/plays	{"id":"bad-file","time":"2026-12-06T17:05:00Z","length_seconds":1.5,"outcome":"played"}
EOF
stream new a2 100 0
published
stored_as_sent "with the collector running and payloads that are not plays among the plays"
alive "on payloads that are not plays"
grep -q "not plays" "$work/collector-$runs.log" || fail "no warning of the payloads that are not plays"

# Killed at random moments in a stream, with plays sent while it is away and plays sent twice;
# then ended by SIGTERM in the middle of the stream.
kills=${KILLS:-5}
stream new b $((kills * 600)) 6
stream again 300 6
for i in $(seq "$kills"); do
    sleep "0.$((RANDOM % 8 + 2))"
    alive "before kill $i"
    kill -9 "$pid"
    wait "$pid" 2>/dev/null || true
    plays new "away$i" 40 0 || fail "plays could not be published"
    collect
done
sleep 0.3
term "in a stream"
collect
published
stored_as_sent "through $kills kills -9 and a SIGTERM, with plays sent while away and 300 sent again"

# The database away under a stream: PostgreSQL stopped and started again; SQLite locked by another
# writer for longer than the collector waits for it.
stream new c 1500 5
sleep 1
if [ "$kind" = postgresql ]; then
    as_pg "$bin/pg_ctl" -D "$pg/data" -m fast stop >/dev/null
    sleep 2
    pg_start
else
    { echo '.timeout 5000'; echo 'BEGIN EXCLUSIVE;'; sleep 7; echo 'COMMIT;'; } | sqlite3 "$work/plays.sqlite"
fi
published
stored_as_sent "with the database away for a while"
grep -q "not stored" "$work/collector-$runs.log" || fail "the collector never missed the database"
alive "with the database away"
term "at the end"
# Everything stored was acknowledged: the broker has nothing more for the collector's session.
mosquitto_sub -p "$port" -c -i "$client" -q 1 -t 'corvane/+/+/plays' -W 2 -v >"$work/left" 2>/dev/null || true
[ ! -s "$work/left" ] || fail "$(wc -l <"$work/left") plays left with the broker: $(head -n 3 "$work/left")"

# The reports over days that leave out the first and the last sent.
for by in file zone day; do
    plays expect "$by" 2026-12-05 2026-12-08 >"$work/want.csv"
    [ "$(wc -l <"$work/want.csv")" -gt 3 ] || fail "too few plays in the days reported"
    "$program" report --database "$url" --from 2026-12-05 --to 2026-12-08 --by "$by" --out "$work/got.csv" ||
        fail "report --by $by failed"
    cmp -s "$work/want.csv" "$work/got.csv" || fail "report --by $by: $(diff "$work/want.csv" "$work/got.csv")"
done
echo "ok on $kind: $(plays count) plays stored once each in $((SECONDS - started)) s, $runs collector runs"
