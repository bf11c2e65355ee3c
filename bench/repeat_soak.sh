#!/usr/bin/env bash
# One untouched board left on its fixture under quillet-cli --repeat, at the real line rate,
# for SECONDS (default 120): the log must end with exactly one record and the board must have
# entered programming mode once. Give a load command after "--" (a compiler, say) to run it
# beside the board the whole time. Not part of the test suite: it takes minutes.
#
#   bench/repeat_soak.sh [SECONDS] [-- LOAD COMMAND ...]
#
# QUILLET_BUILD (default build) names the build; QUILLET_CLI another quillet-cli to try.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=120
if [[ $# -gt 0 && $1 != "--" ]]; then
    seconds=$1
    shift
fi
[[ $# -gt 0 && $1 == "--" ]] && shift
build=${QUILLET_BUILD:-build}
cli=${QUILLET_CLI:-$build/cli/quillet-cli}
sim=$build/tools/board-sim/quillet-board-sim

work=$(mktemp -d)
pids=()
load=
cleanup() {
    [[ -n $load ]] && kill -- "-$load" 2>/dev/null
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$sim" --com-dir "$work" --com 1 --line-rate --log "$work/sim.log" >"$work/sim.out" &
pids+=($!)
for _ in $(seq 50); do grep -q READY "$work/sim.out" 2>/dev/null && break; sleep 0.1; done

if [[ $# -gt 0 ]]; then
    # In a process group of its own, so that the load's compiler ends with it.
    setsid bash -c 'while :; do "$@" >/dev/null 2>&1 || true; done' load "$@" &
    load=$!
fi

QUILLET_COM_DIR=$work "$cli" --port COM1 --repeat --json --log "$work/boards.jsonl" \
    >"$work/cli.out" 2>"$work/cli.err" &
cli_pid=$!
sleep "$seconds"
kill -INT "$cli_pid"
code=0
wait "$cli_pid" || code=$?

records=$(grep -c . "$work/boards.jsonl" || true)
progmodes=$(grep -c '^PROGMODE ' "$work/sim.log" || true)
# How long the host went between two probes with nothing else between them (the wait for
# the board's removal): its worst stall under the load.
gaps=$(awk '/^PROBE / {
                for (i = 1; i <= NF; ++i) if ($i ~ /^t=/) t = substr($i, 3)
                if (probing) { g = t - last; if (g > max) max = g; sum += g; ++n }
                last = t; probing = 1; next
            }
            { probing = 0 }
            END { if (n) printf "%d probe gaps, mean %.1f ms, max %.1f ms", n, sum / n, max; else print "no probe gaps" }' "$work/sim.log")
echo "repeat soak: ${seconds} s, exit $code, $records log record(s), $progmodes programming mode entries, $gaps"
[[ $records -eq 1 && $progmodes -eq 1 ]]
