#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a plain build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/check-source.sh
# Every source follows .clang-format.
find shell serial catalogue session cli line tests tools bench fuzz -name '*.cpp' -o -name '*.h' |
    xargs clang-format --dry-run --Werror

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# The randomized sessions replay one fixed set of schedules here, which touches all but two kinds of
# fault, so a run's verdict does not depend on the draw; run the test alone for fresh seeds.
export QUILLET_RANDOM_SEED="${QUILLET_RANDOM_SEED:-12}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt's own libraries are not built with the sanitizers; their caches at exit are not our leaks.
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp

# The reply parser's fuzz target still builds and survives a short run over its seed corpus
# (copied, so the run's findings stay out of the tree). On a failure its whole output is shown.
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$jobs"
fuzzer=$PWD/build-fuzz/reply_parser_fuzz
fuzz_work=$(mktemp -d)
trap 'rm -rf "$fuzz_work"' EXIT
mkdir "$fuzz_work/corpus"
cp fuzz/corpus/* "$fuzz_work/corpus"
if ! (cd "$fuzz_work" && "$fuzzer" -max_total_time=15 -print_final_stats=1 corpus >fuzz.log 2>&1)
then
    cat "$fuzz_work/fuzz.log"
    echo "== the reply parser's fuzz target failed (output above) ==" >&2
    exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' "$fuzz_work/fuzz.log"

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

# The real serial drivers (ftdi_sio, 8250) in a QEMU guest, unplug included.
scripts/test-drivers.sh build-test-release

# The whole Windows program and its installer under Wine, against the Linux build's run.
scripts/test-windows-app.sh build-test-release

echo "== Debian packages =="
scripts/test-packages.sh # builds and checks them (scripts/package.sh), then installs them in a chroot
