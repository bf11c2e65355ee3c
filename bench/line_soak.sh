#!/usr/bin/env bash
# A shift of two stations publishing to a broker that goes away twice: station A runs two
# fixtures (every fifth board on its second one hangs up mid-update), station B one. Station B
# is killed (SIGKILL) while the broker is down and started again with its spool full. At the
# end every record in the stations' logs must have reached a subscriber: it prints how many were
# logged, received and missing. Not part of the test suite: it takes minutes.
#
#   bench/line_soak.sh [SECONDS] [-- LOAD COMMAND ...]   (default 240 s; the outages are at
#                                                        fixed fractions of it)
#
# QUILLET_BUILD (default build) names the build. Needs Debian's mosquitto and mosquitto-clients.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=240
if [[ $# -gt 0 && $1 != "--" ]]; then
    seconds=$1
    shift
fi
[[ $# -gt 0 && $1 == "--" ]] && shift
build=${QUILLET_BUILD:-build}
cli=$PWD/$build/cli/quillet-cli
sim=$PWD/$build/tools/board-sim/quillet-board-sim

work=$(mktemp -d)
pids=()
load=
cleanup() {
    [[ -n $load ]] && kill -- "-$load" 2>/dev/null
    [[ -n $broker_pid ]] && kill "$broker_pid" 2>/dev/null
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export QUILLET_COM_DIR=$work/com
mkdir -p "$work/com"

. bench/line_broker.sh
broker_setup
start_broker

mosquitto_sub "${broker_args[@]}" -q 1 -c -i soak-subscriber -t 'soak/+/+/end' >"$work/received.jsonl" 2>"$work/subscriber.err" &
pids+=($!)

# A fixture: COUNT boards, one after another, on COM N; every FAIL-th hangs up mid-update.
fixture() {
    local n=$1 fail=$2 i=0
    while :; do
        i=$((i + 1))
        local extra=()
        ((fail > 0 && i % fail == 0)) && extra=(--hangup-after 60)
        "$sim" --com-dir "$work/com" --com "$n" --line-rate --log "$work/board$n.log" \
            "${extra[@]}" >/dev/null 2>&1 &
        local board=$!
        for _ in $(seq 300); do
            [[ $(grep -c ^FRAME "$work/board$n.log" 2>/dev/null) -ge 183 ]] && break
            kill -0 "$board" 2>/dev/null || break
            sleep 0.1
        done
        sleep 1 # the station shows the outcome; then the board is taken off
        kill "$board" 2>/dev/null || true
        wait "$board" 2>/dev/null || true
        rm -f "$work/board$n.log" "$work/com/COM$n" # a hung-up board leaves its link behind
        sleep 0.5
    done
}

if [[ $# -gt 0 ]]; then
    setsid bash -c 'while :; do "$@" >/dev/null 2>&1 || true; done' load "$@" &
    load=$!
fi

url=mqtts://127.0.0.1:$port/soak
line=(--mqtt "$url" --mqtt-ca "$work/ca.crt" --mqtt-login "$work/login")
"$cli" --port COM11 --port COM12 --repeat --log "$work/a.jsonl" "${line[@]}" --station stA \
    >"$work/a.out" 2>"$work/a.err" &
station_a=$!
"$cli" --port COM13 --repeat --log "$work/b.jsonl" "${line[@]}" --station stB \
    >"$work/b.out" 2>"$work/b.err" &
station_b=$!
fixture 11 0 &
pids+=($!)
fixture 12 5 &
pids+=($!)
fixture 13 0 &
pids+=($!)

start=$(date +%s)
at() { # at PERCENT WHAT: waits until PERCENT of the shift has passed
    while (($(date +%s) - start < seconds * $1 / 100)); do sleep 0.2; done
    echo "$(($(date +%s) - start)) s: $2"
}
at 25 "broker stopped"
stop_broker
at 30 "station B killed"
kill -9 "$station_b"
wait "$station_b" 2>/dev/null || true
at 32 "station B started again, its spool: $(ls "$work/b.jsonl.spool" | wc -l) records"
"$cli" --port COM13 --repeat --log "$work/b.jsonl" "${line[@]}" --station stB \
    >>"$work/b.out" 2>>"$work/b.err" &
station_b=$!
at 38 "broker started"
start_broker
at 62 "broker stopped"
stop_broker
at 70 "broker started"
start_broker
at 100 "shift ends (Ctrl-C to both stations)"
kill -INT "$station_a" "$station_b"
wait "$station_a" "$station_b" || true
sleep 1

logged=$(cat "$work/a.jsonl" "$work/b.jsonl" | grep -o '"record_id":"[^"]*"' | sort -u)
received=$(grep -o '"record_id":"[^"]*"' "$work/received.jsonl" | sort)
missing=$(comm -23 <(echo "$logged") <(echo "$received" | sort -u) | grep -c . || true)
echo "records logged $(echo "$logged" | grep -c .), failed boards among them" \
    "$(cat "$work/a.jsonl" "$work/b.jsonl" | grep -vc '"code":0,' || true)"
echo "received $(echo "$received" | grep -c .) ($(echo "$received" | sort -u | grep -c .) distinct)," \
    "missing $missing; left in the spools $(cat <(ls "$work/a.jsonl.spool") <(ls "$work/b.jsonl.spool") | grep -c . || true)"
echo "station A said:"
sed 's/^/  /' "$work/a.err" | grep -v 'the port went away' || true
echo "station B said:"
sed 's/^/  /' "$work/b.err" | grep -v 'the port went away' || true
((missing == 0))
