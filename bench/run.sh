#!/usr/bin/env bash
# Builds (optimised) and runs the full-update benchmark against the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target update_bench quillet-board-sim
build-bench/bench/update_bench
