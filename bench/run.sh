#!/usr/bin/env bash
# Builds (optimised) and runs the benchmarks against the simulated board: one full update
# through the window's code, and quillet-cli on four boards at once against one alone.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target update_bench gang_bench quillet-board-sim
build-bench/bench/update_bench
build-bench/bench/gang_bench
