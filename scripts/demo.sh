#!/usr/bin/env bash
# Installs what is missing, builds, and opens the updater on a simulated board that answers
# at the real line rate (115200 baud 8N2), linked as COM1. Press "&Update" and watch a whole
# update. Everything it starts and creates is removed when the updater closes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --linux # not the Windows toolchain nor the tests' tools
# A build folder of its own, without the tests (whose GoogleTest the demo does not install).
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build build-demo -j "$(nproc)" --target quillet quillet-board-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: run this from a desktop session (or under xvfb-run)." >&2
    exit 1
fi

work=$(mktemp -d -t quillet-demo.XXXXXX)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The simulated board, published as COM1 in a directory of its own.
mkdir -p "$work/com" "$work/config/Tessaly"
printf '[General]\ncom=0\n' >"$work/config/Tessaly/Quillet.conf"
build-demo/tools/board-sim/quillet-board-sim --com-dir "$work/com" --com 1 --line-rate \
    --text "Demo board" --flash-out "$work/flash.bin" --log "$work/board.log" \
    >"$work/board.out" &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^READY' "$work/board.out" 2>/dev/null && break
    sleep 0.05
done
grep -q '^READY' "$work/board.out" || { echo "the simulated board did not start" >&2; exit 1; }
echo "Simulated board ready as COM1; its log: $work/board.log"

XDG_CONFIG_DIRS="$work/config" QUILLET_COM_DIR="$work/com" build-demo/quillet "$@"
