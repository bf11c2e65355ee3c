#!/usr/bin/env bash
# What publishing to the line costs a board: BOARDS boards (default 20) at the real line rate,
# one quillet-cli run each, alternately with --mqtt (TLS, a login) and without, in the same run.
# Prints the board time (the end record's duration_s) with and without publishing, the whole
# run's time (with the connection at the start and the last acknowledgement at the end), and
# the delay from a board's end (its record's time) to the record at a subscriber.
#
#   bench/line_bench.sh [BOARDS]     QUILLET_BUILD (default build) names the build
set -euo pipefail
cd "$(dirname "$0")/.."
boards=${1:-20}
build=${QUILLET_BUILD:-build}
cli=$PWD/$build/cli/quillet-cli
sim=$PWD/$build/tools/board-sim/quillet-board-sim

work=$(mktemp -d)
pids=()
cleanup() {
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
# %U: when the record arrived (seconds since 1970, nanoseconds).
mosquitto_sub "${broker_args[@]}" -q 1 -F '%U %p' -t 'bench/+/+/end' >"$work/received" &
pids+=($!)
sleep 0.5

for i in $(seq "$boards"); do
    mode=off
    line=()
    if ((i % 2)); then
        mode=on
        line=(--mqtt "mqtts://127.0.0.1:$port/bench" --station bench --mqtt-ca "$work/ca.crt"
            --mqtt-login "$work/login" --spool "$work/spool")
    fi
    "$sim" --com-dir "$work/com" --com 1 --line-rate >"$work/sim.out" 2>/dev/null &
    board=$!
    for _ in $(seq 50); do grep -q READY "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
    start=$(date +%s.%N)
    "$cli" --port COM1 --json "${line[@]}" 2>>"$work/cli.err" | grep '"record":"end"' >"$work/end"
    end=$(date +%s.%N)
    kill "$board"
    wait "$board" 2>/dev/null || true
    grep -q '"code":0' "$work/end" || { echo "board $i failed: $(cat "$work/end")" >&2; exit 1; }
    duration=$(sed 's/.*"duration_s":\([0-9.]*\).*/\1/' "$work/end")
    echo "$mode $duration $start $end" >>"$work/times"
done
sleep 1

python3 - "$work/times" "$work/received" <<'EOF'
import json, statistics, sys
from datetime import datetime
times = [line.split() for line in open(sys.argv[1])]
for mode in ("off", "on"):
    board = [float(t[1]) for t in times if t[0] == mode]
    run = [float(t[3]) - float(t[2]) for t in times if t[0] == mode]
    print(f"publishing {mode:3}: {len(board)} boards, board {statistics.mean(board):.3f} s "
          f"(sd {statistics.stdev(board):.3f}, min {min(board):.3f}, max {max(board):.3f}), "
          f"whole run {statistics.mean(run):.3f} s")
delays = []
for line in open(sys.argv[2]):
    arrived, payload = line.split(" ", 1)
    record = json.loads(payload)
    ended = datetime.fromisoformat(record["time"].replace("Z", "+00:00")).timestamp()
    delays.append((float(arrived) - ended) * 1000)
delays.sort()
print(f"board's end to its record at a subscriber: {len(delays)} records, median "
      f"{statistics.median(delays):.1f} ms, max {max(delays):.1f} ms")
EOF
