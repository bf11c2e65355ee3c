#!/usr/bin/env bash
# The whole Windows program under Wine, as a technician would use it: the installer is run
# silently in a fresh Wine prefix, the installed quillet.exe updates a simulated board (running
# natively on a pseudo-terminal that the prefix maps to COM7) in a virtual X display, and the
# board's memory must equal what the Linux build leaves there for the same release. Then, in
# the same prefix, the same release is installed again (an upgrade), a second product
# (tests/win/second-product) is installed beside it and updates a board, and both are
# uninstalled: the port choice outlives all of it.
#
# Every program is signed: with QUILLET_SIGN_PKCS12 and QUILLET_SIGN_PASSWORD_FILE if given,
# else with a throw-away self-signed certificate, and each signature is verified.
#
#   scripts/test-windows-app.sh [LINUX_BUILD_DIR]    (default build-test-release)
#
# The Linux build gives the reference run and the simulated board. Needs the installer from
# scripts/build-windows.sh, which it runs (Qt for Windows is built once if not cached).
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build-test-release}
linux=$(realpath "$linux")
sim=$linux/tools/board-sim/quillet-board-sim
[ -x "$sim" ] && [ -x "$linux/quillet" ] || { echo "no Linux build in $linux" >&2; exit 1; }

wine=/usr/lib/wine/wine64
# Every Wine program runs under a time limit: one that hangs fails the test (status 124) instead
# of holding the run until the CI's own limit says nothing of where.
wine_run() { timeout -k 10 "${QUILLET_WINE_LIMIT:-300}" "$wine" "$@"; }
unset QT_QPA_PLATFORM # the Windows Qt has its "windows" platform only; the Linux run names its own
wineserver=/usr/lib/wine/wineserver
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
# No .NET or browser engine to offer installing; and no debugger for a program that crashes: it
# ends at once with the crash said, instead of waiting on winedbg.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work" "${broker:-}"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    mkdir -p build-windows/shots && cp "$work"/*.png build-windows/shots/ 2>/dev/null || true
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "window $id: $(xdotool getwindowname "$id")" >&2
    done
    for log in "$work"/*.log; do echo "-- $log --" >&2; tail -20 "$log" >&2; done
    exit 1
}

# The certificate: a throw-away self-signed one for code signing, unless one is given.
if [ -z "${QUILLET_SIGN_PKCS12:-}" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/sign.key" -out "$work/sign.pem" \
        -days 1 -subj "/CN=Quillet test signing" -addext extendedKeyUsage=codeSigning \
        -addext keyUsage=digitalSignature 2>/dev/null
    head -c 12 /dev/urandom | base64 >"$work/sign.pass"
    openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/sign.pem" -out "$work/sign.p12" \
        -passout file:"$work/sign.pass"
    export QUILLET_SIGN_PKCS12=$work/sign.p12 QUILLET_SIGN_PASSWORD_FILE=$work/sign.pass
    verify_ca=(-CAfile "$work/sign.pem")
else
    verify_ca=() # the system's trusted roots
fi
verify() { # FILE...: each carries a valid Authenticode signature
    for f in "$@"; do
        osslsigncode verify "${verify_ca[@]}" -in "$f" >"$work/verify.log" 2>&1 ||
            { cat "$work/verify.log" >&2; fail "no valid signature on $f"; }
        echo "signed: $(basename "$f"): $(grep -m1 'Subject:' "$work/verify.log" | sed 's/^[[:space:]]*//')"
    done
}

# The two products' installers: the second first, so that build-windows is left with the
# repository's release.
installer_of() { "$@" | grep -E '/Quillet-[^/]*-win64[.]exe$'; }
second_release=tests/win/second-product/release.txt
second_installer=$(installer_of scripts/build-windows.sh --release "$second_release")
installer=$(installer_of scripts/build-windows.sh)
echo "== the Windows program under Wine: $(basename "$installer") ($(du -h "$installer" | cut -f1)) and $(basename "$second_installer") =="
verify "$installer" "$second_installer"
# The program that reads a key's grant back (tests/win).
cmake -S tests/win -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" >/dev/null
cmake --build build-win --target settings_acl_check >/dev/null

# A display of our own; the Windows program is a window program.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done

mkdir -p "$WINEPREFIX"
"$wineserver" -p >"$work/wineserver.log" 2>&1
wine_run wineboot -i >"$work/wineboot.log" 2>&1
# Wine has no "MS Sans Serif"; without a replacement the windows' face would be a serif one.
wine_run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS Sans Serif" /d "Liberation Sans" /f \
    >/dev/null 2>&1

# The parent program: every datagram to 127.0.0.1:3000, with the port it came from.
python3 -u -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 3000))
while True:
    data, (host, port) = s.recvfrom(100)
    print(port, data.hex(), flush=True)' >"$work/parent.out" 2>"$work/parent.log" &
pids+=($!)
datagrams() { wc -l <"$work/parent.out"; }
wait_datagram() { # N: waits until N datagrams have arrived
    for _ in $(seq 600); do [ "$(datagrams)" -ge "$1" ] && return 0; sleep 0.1; done
    return 1
}

# start_board NAME COMLINK [options]: a simulated board on a pty, linked as a COM port of the
# prefix (COMLINK "com7") or of a COM directory for the Linux run.
start_board() {
    local name=$1 link=$2
    shift 2
    "$sim" --com-dir "$work" --com 99 --line-rate --log "$work/$name.log" \
        --flash-out "$work/$name.flash" --eeprom-out "$work/$name.eeprom" "$@" >"$work/$name.out" &
    pids+=($!)
    local ready=""
    for _ in $(seq 100); do
        ready=$(head -n1 "$work/$name.out" 2>/dev/null || true)
        [ -n "$ready" ] && break
        sleep 0.05
    done
    read -r word _ pty <<<"$ready"
    [ "$word" = READY ] || fail "board $name did not start"
    ln -sfn "$pty" "$link"
}
find_window() { # TITLE: the id of the visible window with exactly this title
    for _ in $(seq 300); do
        local id
        id=$(xdotool search --onlyvisible --name "^$(printf '%s' "$1" | sed 's/[][\.*^$]/\\&/g')\$" 2>/dev/null | head -n1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
frames() { grep -c '^FRAME' "$1" 2>/dev/null || true; }
# The title the release gives the main window.
field() { sed -n "s/^$2 \{1,\}//p" "$1" | sed 's/ *#.*//' | head -n1; }
title_of() { echo "$(field "$1" version) - $(field "$1" product)   [ $(field "$1" date) ]"; }
title=$(title_of releases/mericon/release.txt)
title_re="^$(printf '%s' "$title" | sed 's/[][\.*^$]/\\&/g')\$"

# The reference: the Linux program on the same kind of board.
mkdir -p "$work/linux-com" "$work/linux-config"
start_board linux "$work/linux-com/COM1"
QT_QPA_PLATFORM=xcb QUILLET_COM_DIR="$work/linux-com" XDG_CONFIG_DIRS="$work/linux-config" \
    XDG_CONFIG_HOME="$work/linux-config" "$linux/quillet" '\P' >"$work/linux-app.log" 2>&1 &
linux_app=$!
pids+=($linux_app)
w=$(find_window "$title") || fail "the Linux window \"$title\" did not appear"
xdotool windowfocus --sync "$w" key alt+u
wait_datagram 1 || fail "the Linux run sent no datagram"
kill "$linux_app"
success="3004 000000040000000000000001" # from port 3004: code 1
[ "$(sed -n 1p "$work/parent.out")" = "$success" ] || fail "the Linux run did not succeed"

# Silent install.
wine_run "$installer" /S >"$work/install.log" 2>&1 || fail "the installer failed"
programs="$WINEPREFIX/drive_c/Program Files"
app="$programs/Quillet MERICON"
for f in quillet.exe quillet-cli.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
    libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll Uninstall.exe quillet-settings-access.exe; do
    [ -f "$app/$f" ] || fail "not installed: $f"
done
shortcut=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Quillet MERICON.lnk' | head -n1)
[ -n "$shortcut" ] || fail "no Start-menu entry"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet MERICON'
wine_run reg query "$uninstall_key" >"$work/uninstall-entry.log" 2>&1 || fail "no uninstall entry"
echo "installed: $(cd "$app" && find . -type f | sort | tr '\n' ' ')"
verify "$app/quillet.exe" "$app/quillet-cli.exe" "$app/Uninstall.exe"
# The installer made the settings key, and standard users may set values in it.
settings='HKLM\Software\Tessaly\Quillet'
wine_run build-win/settings_acl_check.exe 'Software\Tessaly\Quillet' ||
    fail "the settings key does not let Users set values"

# The board on COM7 (index 6), chosen in the registry as the window would save it.
start_board windows "$WINEPREFIX/dosdevices/com7"
wine_run reg add "$settings" /v com /d 6 /f >/dev/null 2>&1
(cd "$app" && wine_run quillet.exe '\P' >"$work/app.log" 2>&1) &
first=$!
w=$(find_window "$title") || fail "no window titled \"$title\""
xdotool windowfocus --sync "$w" key alt+u
for _ in $(seq 300); do [ "$(frames "$work/windows.log")" -ge 60 ] && break; sleep 0.1; done
import -window root "$work/mid-update.png"
wait_datagram 2 || fail "no datagram after the update"
sleep 0.3
import -window root "$work/program-ok.png"
[ "$(sed -n 2p "$work/parent.out")" = "$success" ] ||
    fail "datagram \"$(sed -n 2p "$work/parent.out")\", expected \"$success\""
for part in flash eeprom; do
    a=$(sha256sum <"$work/linux.$part" | cut -c1-64)
    b=$(sha256sum <"$work/windows.$part" | cut -c1-64)
    [ "$a" = "$b" ] || fail "board $part differs from the Linux run's ($b, Linux $a)"
done
echo "whole update: $(frames "$work/windows.log") frames, board memory as on Linux ($(sha256sum <"$work/windows.flash" | cut -c1-16)...)"

# A second start finds the first and says so, and ends with 0 while the first keeps running.
(cd "$app" && wine_run quillet.exe >"$work/second.log" 2>&1; echo $? >"$work/second.rc") &
for _ in $(seq 300); do
    [ "$(xdotool search --onlyvisible --name "$title_re" 2>/dev/null | wc -l)" -ge 2 ] && break
    sleep 0.1
done
import -window root "$work/already.png"
box=$(xdotool search --onlyvisible --name "$title_re" | grep -v "^$w\$" | head -n1) ||
    fail "the second start showed nothing"
xdotool windowfocus --sync "$box" key Return
for _ in $(seq 100); do [ -s "$work/second.rc" ] && break; sleep 0.1; done
[ "$(cat "$work/second.rc" 2>/dev/null)" = 0 ] || fail "the second start did not end with 0"
kill -0 "$first" 2>/dev/null || fail "the first instance ended with the second"

# Closing writes the port choice: the value is removed while the window runs, and is back.
wine_run reg delete 'HKLM\Software\Tessaly\Quillet' /v com /f >/dev/null 2>&1
xdotool windowfocus --sync "$w" key alt+F4
wait "$first" || true
wine_run reg query 'HKLM\Software\Tessaly\Quillet' /v com 2>/dev/null | grep -Eq 'com +REG_SZ +6' ||
    fail "closing did not save \"com\""

# No board: COM8 is a line nobody answers. The search gives up; "Device not Found" sends no
# datagram. The "Setup" dialog opens and closes.
python3 -c 'import os, signal; master, slave = os.openpty(); print(os.ttyname(slave), flush=True); signal.pause()' \
    >"$work/silent.out" &
pids+=($!)
until [ -s "$work/silent.out" ]; do sleep 0.05; done
ln -sfn "$(head -n1 "$work/silent.out")" "$WINEPREFIX/dosdevices/com8"
wine_run reg add 'HKLM\Software\Tessaly\Quillet' /v com /d 7 /f >/dev/null 2>&1
(cd "$app" && wine_run quillet.exe '\P' >"$work/app2.log" 2>&1) &
second=$!
w=$(find_window "$title") || fail "no window for the no-board session"
xdotool windowfocus --sync "$w" key alt+c
dialog=$(find_window Setup) || fail "the \"Setup\" dialog did not open"
import -window root "$work/setup.png"
setup_open() { xdotool search --onlyvisible --name '^Setup$' >/dev/null 2>&1; }
for keys in Escape alt+c; do # Escape, else its "&Cancel"
    xdotool windowfocus --sync "$dialog" key "$keys"
    for _ in $(seq 30); do setup_open || break; sleep 0.1; done
    setup_open || break
done
setup_open && fail "the \"Setup\" dialog did not close"
xdotool windowfocus --sync "$w" key alt+u
sleep 14 # 100 probes of 100 ms, and Wine's start
import -window root "$work/not-found.png"
[ "$(datagrams)" -eq 2 ] || fail "\"Device not Found\" sent a datagram"
xdotool windowfocus --sync "$w" key alt+F4
wait "$second" || true

# quillet-cli.exe, with no display: a whole update (exit 0, the same board memory as the Linux
# run, its log under a name with letters outside ASCII), a session with no board (exit 4,
# "Device not Found"), and a port past the driver's range (a usage error).
start_board cli "$WINEPREFIX/dosdevices/com7"
rc=0
log="Prüfstand-€.jsonl"
(unset DISPLAY; cd "$app" && wine_run quillet-cli.exe --port COM7 --log "$log" >"$work/cli.out" 2>"$work/cli.log") || rc=$?
[ "$rc" = 0 ] || fail "quillet-cli.exe --port COM7 ended with $rc: $(tail -n2 "$work/cli.out")"
grep -q '"code":0' "$app/$log" 2>/dev/null || fail "quillet-cli.exe did not write its log \"$log\""
rm -f "$app/$log"
for part in flash eeprom; do
    [ "$(sha256sum <"$work/linux.$part")" = "$(sha256sum <"$work/cli.$part")" ] ||
        fail "quillet-cli.exe left another board $part than the Linux run"
done
rc=0
(unset DISPLAY; cd "$app" && wine_run quillet-cli.exe --port COM8 >"$work/cli2.out" 2>"$work/cli2.log") || rc=$?
[ "$rc" = 4 ] || fail "quillet-cli.exe on a port with no board ended with $rc, not 4"
grep -q 'Device not Found' "$work/cli2.out" || fail "quillet-cli.exe did not say \"Device not Found\""
rc=0
(unset DISPLAY; cd "$app" && wine_run quillet-cli.exe --port COM258 >"$work/cli3.out" 2>"$work/cli3.log") || rc=$?
[ "$rc" = 2 ] && grep -q "past the last COM port" "$work/cli3.log" ||
    fail "quillet-cli.exe --port COM258 ended with $rc: $(head -n1 "$work/cli3.log")"
echo "quillet-cli.exe: a whole update (exit 0, board memory as on Linux, its log under a UTF-8 name), no board (exit 4), COM258 (exit 2)"

# quillet-cli.exe on a line: one board's end record over TLS with a login to Debian's
# mosquitto on this machine (its files readable by the user it drops to), seen by a subscriber;
# a wrong password is exit 8 before any probe.
# Its own folder: the broker drops root to a user of its own, which must read its files (the
# work folder and the Wine prefix in it stay private).
broker=$(mktemp -d) && chmod 755 "$broker"
(
    cd "$broker"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 1 -subj /CN=test-ca
    openssl req -newkey rsa:2048 -nodes -keyout broker.key -out broker.csr -subj /CN=127.0.0.1
    printf 'subjectAltName=IP:127.0.0.1\n' >ext
    openssl x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out broker.crt \
        -days 1 -extfile ext
    mosquitto_passwd -c -b passwords station secret
    chmod 644 broker.key passwords
) >"$broker/make.log" 2>&1 || fail "cannot make the broker's files: $(tail -n2 "$broker/make.log")"
mqtt_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '%s\n' "listener $mqtt_port 127.0.0.1" "allow_anonymous false" \
    "password_file $broker/passwords" "cafile $broker/ca.crt" \
    "certfile $broker/broker.crt" "keyfile $broker/broker.key" >"$broker/broker.conf"
mosquitto -c "$broker/broker.conf" >"$broker/broker.log" 2>&1 &
pids+=($!)
sub=(-h 127.0.0.1 -p "$mqtt_port" --cafile "$broker/ca.crt" -u station -P secret)
for _ in $(seq 50); do mosquitto_pub "${sub[@]}" -t wine/ready -n 2>/dev/null && break; sleep 0.1; done
mosquitto_sub "${sub[@]}" -q 1 -C 1 -W 120 -t 'wine/+/+/end' >"$broker/end.json" 2>&1 &
subscriber=$!
sleep 0.5
start_board line "$WINEPREFIX/dosdevices/com7"
line=(--mqtt "mqtts://127.0.0.1:$mqtt_port/wine" --station wine-station
    --mqtt-ca "Z:$broker/ca.crt" --spool "Z:$broker/spool")
rc=0
# With the display: a Wine program started without one here left the second product's window
# (further down) with no desktop to open on.
(cd "$app" && QUILLET_MQTT_USER=station QUILLET_MQTT_PASSWORD=secret \
    wine_run quillet-cli.exe --port COM7 "${line[@]}" >"$work/cli-line.out" 2>"$work/cli-line.err") || rc=$?
[ "$rc" = 0 ] || fail "quillet-cli.exe --mqtt ended with $rc: $(tail -n2 "$work/cli-line.err")"
wait "$subscriber" || fail "no end record from quillet-cli.exe reached the broker: $(cat "$broker/end.json")"
grep -q '"station":"wine-station"' "$broker/end.json" &&
    grep -q '"record_id":"[0-9a-f-]\{36\}"' "$broker/end.json" &&
    grep -q '"code":0' "$broker/end.json" ||
    fail "quillet-cli.exe's end record lacks its station, record_id or code: $(head -c 300 "$broker/end.json")"
[ -z "$(ls "$broker/spool")" ] || fail "quillet-cli.exe left acknowledged records in its spool"
probes=$(grep -c '^PROBE' "$work/line.log")
rc=0
(cd "$app" && QUILLET_MQTT_USER=station QUILLET_MQTT_PASSWORD=wrong \
    wine_run quillet-cli.exe --port COM7 "${line[@]}" >"$work/cli-line2.out" 2>"$work/cli-line2.err") || rc=$?
[ "$rc" = 8 ] && grep -q 'not authorised' "$work/cli-line2.err" ||
    fail "quillet-cli.exe with a wrong broker password ended with $rc: $(head -n1 "$work/cli-line2.err")"
[ "$(grep -c '^PROBE' "$work/line.log")" = "$probes" ] || fail "quillet-cli.exe probed with a refused login"
echo "quillet-cli.exe --mqtt: its end record at a subscriber (TLS, a login), a wrong password (exit 8, no probe)"

# What the settings key holds (its values, as reg lists them).
settings_values() { wine_run reg query "$settings" 2>/dev/null | grep REG_ | sort; }
# uninstall NAME: the product's uninstaller, run silently; it runs a copy of itself and returns
# at once, so this waits until its folder, its Start-menu entry and its uninstall entry are gone.
uninstall() {
    local dir="$programs/Quillet $1" key="HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet $1"
    wine_run "$dir/Uninstall.exe" /S >>"$work/uninstall.log" 2>&1 || fail "the uninstaller of $1 failed"
    for _ in $(seq 150); do
        if [ ! -e "$dir" ] && [ -z "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name "Quillet $1.lnk")" ] &&
            ! wine_run reg query "$key" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.2
    done
    fail "uninstalling $1 left its folder, its Start-menu entry or its uninstall entry"
}

# The same release again, as an upgrade: the old one is uninstalled first, the settings stay.
wine_run reg add "$settings" /v version /d 12 /f >/dev/null 2>&1
before=$(settings_values)
grep -q '^ *com' <<<"$before" || fail "no \"com\" before the upgrade"
wine_run "$installer" /S >"$work/upgrade.log" 2>&1 || fail "the upgrade failed"
[ -f "$app/quillet.exe" ] || fail "the upgrade left no quillet.exe"
[ "$(settings_values)" = "$before" ] || fail "the upgrade changed the settings: $(settings_values)"
echo "upgrade: the settings kept ($(tr -s ' ' <<<"$before" | tr '\n' ';'))"

# The second product beside it: its own folder, Start-menu entry and uninstall entry.
wine_run "$second_installer" /S >"$work/install2.log" 2>&1 || fail "the second installer failed"
second_app="$programs/Quillet VANTAR"
[ -f "$second_app/quillet.exe" ] && [ -f "$app/quillet.exe" ] || fail "not both products are installed"
wine_run uninstaller --list 2>/dev/null | tr -d '\r' | tee "$work/programs.log"
grep -q 'Quillet MERICON' "$work/programs.log" && grep -q 'Quillet VANTAR' "$work/programs.log" ||
    fail "the program list does not show both products"
find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Quillet *.lnk' | sed 's|.*/Start Menu/|Start Menu/|' | sort
[ "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Quillet *.lnk' | wc -l)" -eq 2 ] ||
    fail "not two Start-menu entries"
verify "$second_app/quillet.exe" "$second_app/Uninstall.exe"

# Its window updates a board of its own (row 5).
start_board vantar "$WINEPREFIX/dosdevices/com7" --board 5 --prep 4
wine_run reg add "$settings" /v com /d 6 /f >/dev/null 2>&1
sent=$(datagrams)
(cd "$second_app" && wine_run quillet.exe '\P' >"$work/app3.log" 2>&1) &
third=$!
second_title=$(title_of "$second_release")
w=$(find_window "$second_title") || fail "no window titled \"$second_title\""
xdotool windowfocus --sync "$w" key alt+u
wait_datagram $((sent + 1)) || fail "no datagram after the second product's update"
[ "$(sed -n "$((sent + 1))p" "$work/parent.out")" = "$success" ] || fail "the second product's update failed"
import -window root "$work/second-product.png"
xdotool windowfocus --sync "$w" key alt+F4
wait "$third" || true
echo "second product: \"$second_title\" updated its board ($(frames "$work/vantar.log") frames)"

# Uninstalling it leaves MERICON, which still updates a board, and the settings.
before=$(settings_values)
uninstall VANTAR
[ "$(settings_values)" = "$before" ] || fail "uninstalling VANTAR changed the settings"
start_board after "$WINEPREFIX/dosdevices/com7"
rc=0
(unset DISPLAY; cd "$app" && wine_run quillet-cli.exe --port COM7 >"$work/cli4.out" 2>"$work/cli4.log") || rc=$?
[ "$rc" = 0 ] || fail "MERICON's quillet-cli.exe ended with $rc after VANTAR's uninstall"

# Uninstalling MERICON leaves nothing of either but the settings key.
uninstall MERICON
[ "$(settings_values)" = "$before" ] || fail "uninstalling MERICON changed the settings"
left=$(find "$programs" "$WINEPREFIX/drive_c" -maxdepth 1 -iname '*quillet*'
    find "$WINEPREFIX/drive_c" -path '*Start Menu*' -iname '*quillet*'
    wine_run reg query 'HKLM\Software\Tessaly' 2>/dev/null | tr -d '\r' | grep -i 'quillet ' || true
    wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null |
        tr -d '\r' | grep -i quillet || true)
[ -z "$left" ] || fail "left after both uninstalls: $left"
echo "uninstalled both: the settings key alone is left ($(tr -s ' ' <<<"$before" | tr '\n' ';'))"

# The screenshots, for a person to look at.
shots=${QUILLET_WINDOWS_SHOTS:-build-windows/shots}
mkdir -p "$shots"
cp "$work"/*.png "$shots/"
echo "Windows program under Wine: passed (screenshots in $shots)"
