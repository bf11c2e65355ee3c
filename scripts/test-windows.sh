#!/usr/bin/env bash
# Cross-builds the Windows platform layer with mingw-w64 and runs its tests under Wine, with
# no display: the serial calls against the simulated board, which runs natively on a
# pseudo-terminal that the Wine prefix maps to COM5 (a second one, which hangs up after its
# first frame, to COM6, and a line that is never read to COM7). Arguments go to the test
# executable (e.g. --gtest_filter=ConsoleOs.*).
set -euo pipefail
cd "$(dirname "$0")/.."

wine=/usr/lib/wine/wine64 # Debian keeps it off PATH
wineserver=/usr/lib/wine/wineserver
jobs=$(nproc)

cmake -S tests/win -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" >/dev/null
cmake --build build-win -j "$jobs"
# The simulator alone, natively (it needs neither Qt nor the rest of the build).
cmake -S tools/board-sim -B build-win-sim -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUILLET_BUILD_TESTS=OFF -Wno-dev >/dev/null
cmake --build build-win-sim -j "$jobs" --target quillet-board-sim

work=$(mktemp -d)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no .NET or browser engine to offer installing
unset DISPLAY WAYLAND_DISPLAY
boards=()
cleanup() {
    for pid in "${boards[@]}"; do kill "$pid" 2>/dev/null || true; done
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Wine's own server, started first so that its output (it reports a hung-up pseudo-terminal it
# holds) goes to a log rather than into the test output.
mkdir -p "$WINEPREFIX"
"$wineserver" -p >"$work/wineserver.log" 2>&1
"$wine" wineboot -i >"$work/wineboot.log" 2>&1

# start_board COM [simulator options]: runs a board and links the prefix's COM port to its pty.
start_board() {
    local com=$1
    shift
    build-win-sim/quillet-board-sim --com-dir "$work" --com "$com" --log "$work/board$com.log" \
        "$@" >"$work/board$com.out" &
    boards+=($!)
    local ready=""
    for _ in $(seq 100); do
        ready=$(head -n1 "$work/board$com.out" 2>/dev/null || true)
        [ -n "$ready" ] && break
        sleep 0.05
    done
    read -r word name pty <<<"$ready"
    [ "$word" = READY ] || { echo "board on COM$com did not start" >&2; exit 1; }
    ln -sfn "$pty" "$WINEPREFIX/dosdevices/com$com"
}
start_board 5
start_board 6 --hangup-after 0
# COM7: a line whose far end never reads, so writes to it fill up and stall.
python3 -c 'import os, signal; master, slave = os.openpty(); print(os.ttyname(slave), flush=True); signal.pause()' \
    >"$work/stalled.out" &
boards+=($!)
until [ -s "$work/stalled.out" ]; do sleep 0.05; done
ln -sfn "$(head -n1 "$work/stalled.out")" "$WINEPREFIX/dosdevices/com7"

echo "== Windows platform layer under Wine ($("$wine" --version)) =="
status=0
QUILLET_WIN_TEST_COM=5 QUILLET_WIN_TEST_HANGUP_COM=6 QUILLET_WIN_TEST_STALLED_COM=7 \
    "$wine" build-win/quillet_win32_tests.exe "$@" 2>"$work/wine-stderr.log" || status=$?
# The console tests again on a pseudo-terminal, which gives Wine a console of its own (and
# the test's output the console's own cursor sequences: kept in a log, shown on failure).
if [ "$#" -eq 0 ] && [ "$status" -eq 0 ]; then
    echo "== The console seam on Wine's console =="
    console=0
    QUILLET_WIN_TEST_CONSOLE=1 script -qec \
        "$wine build-win/quillet_win32_tests.exe --gtest_filter=ConsoleOs.*" /dev/null \
        >"$work/console.log" 2>&1 </dev/null || console=$?
    if [ "$console" -ne 0 ]; then
        echo "console tests failed:" >&2
        sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/console.log" >&2
        status=1
    else
        echo "passed"
    fi
fi
# The installer's grant of the settings key, on a key of its own: Users may set values after it.
if [ "$#" -eq 0 ]; then
    acl_key='Software\QuilletAclTest'
    acl_check() { "$wine" build-win/settings_acl_check.exe "$acl_key"; }
    "$wine" reg add "HKLM\\$acl_key" /f >/dev/null 2>&1
    if acl_check >/dev/null || ! "$wine" build-win/quillet-settings-access.exe "$acl_key" || ! acl_check; then
        echo "FAILED: quillet-settings-access did not grant Users KEY_SET_VALUE" >&2 && status=1
    fi
fi
if [ "$status" -ne 0 ]; then
    echo "-- Wine's messages --" >&2
    cat "$work/wine-stderr.log" >&2
    for log in "$work"/board*.log; do echo "-- $log --" >&2; cat "$log" >&2; done
fi
exit "$status"
