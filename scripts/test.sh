#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a plain build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-source.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt's own libraries are not built with the sanitizers; their caches at exit are not our leaks.
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp

# The reply parser's fuzz target still builds and survives a short run over its seed corpus.
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$jobs"
corpus=$(mktemp -d)
cp fuzz/corpus/* "$corpus"
build-fuzz/reply_parser_fuzz -max_total_time=15 -print_final_stats=1 "$corpus" 2>&1 |
    grep -E '^(Done|stat::number_of_executed_units)'
rm -rf "$corpus"

# The Windows platform layer, cross-built and run under Wine.
scripts/test-windows.sh

for variant in release asan; do
    dir=build-test-$variant
    if [ "$variant" = asan ]; then
        flags=(-DCMAKE_BUILD_TYPE=Debug -DQUILLET_SANITIZE=ON)
    else
        flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
    fi
    cmake -S . -B "$dir" -G Ninja "${flags[@]}"
    cmake --build "$dir" -j "$jobs"
    echo "== tests ($variant) =="
    ctest --test-dir "$dir" -j "$jobs" --output-on-failure
done

echo "== Debian package =="
scripts/package.sh
