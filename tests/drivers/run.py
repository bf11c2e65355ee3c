#!/usr/bin/env python3
"""The driver test's cases: a QEMU guest (Debian's kernel, the initramfs of
scripts/test-drivers.sh) runs quillet-cli against simulated boards behind an emulated FTDI
adapter (ftdi_sio) and the guest's second 16550 UART (8250). QEMU's `serial` chardev backend
sits on each board's own pseudo-terminal, so the guest's line settings reach it and a
device_del over QMP is a real unplug for the guest.

Each case prints "PASS name" or "FAIL name: why"; the last line is "drivers: N passed, N failed".
"""
import argparse
import hashlib
import json
import os
import queue
import re
import select
import signal
import socket
import subprocess
import sys
import termios
import threading
import time

# SHA-256 of the release's stored image as a board receives it: the whole-update tests of the
# window and of the programming sequence expect the same (tests/session/programming_test.cpp).
RELEASE_WIRE_SHA256 = "3efa98fe2849a209e80c939cb7e4dbf1717a61736a522e2d06b368df327cd3c8"
FRAMES_PER_UPDATE = 183  # 182 program blocks and the fix block; the release has no EEPROM

BOOT_LIMIT_S = 180  # TCG on a busy machine: generous, the boot itself takes about 5 s
COMMAND_LIMIT_S = 90  # one guest command: a whole update takes about 6 s
UNPLUG_LIMIT_S = 1.0  # the run must end this soon after its adapter vanished

# The guest's devices: the FTDI adapter at USB port 1 of the xHCI controller, the board's line
# on chardev "usbline"; the second 16550 (ttyS1, COM2) on chardev "uartline".
ADAPTER = {"driver": "usb-serial", "id": "ftdi", "bus": "xhci.0", "port": "1",
           "chardev": "usbline"}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Sim:
    """quillet-board-sim on a pseudo-terminal of its own, with a real board's byte timing."""

    def __init__(self, exe, work, number):
        self.log = os.path.join(work, f"board{number}.log")
        self.wire = os.path.join(work, f"board{number}.wire")
        self.proc = subprocess.Popen(
            [exe, "--com-dir", work, "--com", str(number), "--line-rate", "--log", self.log,
             "--flash-wire-out", self.wire],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        words = self.proc.stdout.readline().split() if ready else []
        if len(words) != 3 or words[0] != "READY":
            raise RuntimeError(f"board {number} did not start")
        self.pty = words[2]

    def lines(self):
        try:
            with open(self.log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def frames(self):
        return sum(1 for line in self.lines() if line.startswith("FRAME"))

    def wire_sha256(self):
        with open(self.wire, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()

    def line_settings(self):
        """The pty's termios as the far end (QEMU, for the guest's driver) left them."""
        fd = os.open(self.pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            return termios.tcgetattr(fd)
        finally:
            os.close(fd)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Qmp:
    def __init__(self, path, limit_s):
        deadline = time.monotonic() + limit_s
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        self.sock.settimeout(30)
        self.reader = self.sock.makefile("r")
        self.reader.readline()  # the greeting
        self.command("qmp_capabilities")

    def command(self, name, **arguments):
        message = {"execute": name}
        if arguments:
            message["arguments"] = arguments
        self.sock.sendall(json.dumps(message).encode() + b"\n")
        while True:
            line = self.reader.readline()
            if not line:
                raise Failure(f"QMP closed during {name}")
            reply = json.loads(line)
            if "return" in reply:
                return reply["return"]
            if "error" in reply:
                raise Failure(f"QMP {name}: {reply['error'].get('desc')}")
            # events ("event") are not needed: the guest is asked what it sees


class Guest:
    """QEMU in TCG on one core; the console is the guest's command line (tests/drivers/init)."""

    def __init__(self, args, work, usb_pty, uart_pty):
        self.console_log = open(os.path.join(work, "console.log"), "w")
        qmp_path = os.path.join(work, "qmp.sock")
        core = max(os.sched_getaffinity(0))
        adapter = ",".join(f"{k}={v}" for k, v in ADAPTER.items())
        command = [
            "taskset", "-c", str(core), "qemu-system-x86_64", "-accel", "tcg", "-machine", "pc",
            "-m", "1024", "-smp", "1", "-nodefaults", "-no-user-config", "-display", "none",
            "-no-reboot", "-kernel", args.kernel, "-initrd", args.initrd,
            "-append", "console=ttyS0 loglevel=1 panic=-1",
            "-serial", "stdio",
            "-chardev", f"serial,id=uartline,path={uart_pty}", "-serial", "chardev:uartline",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", f"serial,id=usbline,path={usb_pty}", "-device", adapter,
            "-qmp", f"unix:{qmp_path},server=on,wait=off",
        ]
        self.qmp_path = qmp_path
        self.started = time.monotonic()
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.console_log)
        self.lines = queue.Queue()
        self.next_id = 0
        self.dead = None  # why the guest stopped answering, once it has
        threading.Thread(target=self._read, daemon=True).start()

    def boot(self):
        self.qmp = Qmp(self.qmp_path, 10)
        ready = self._expect(re.compile(r"@@ready "), BOOT_LIMIT_S, "the guest's boot")
        self.boot_s = ready[0] - self.started

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            line = raw.decode("utf-8", "replace").rstrip("\r\n").lstrip("\r")
            self.console_log.write(line + "\n")
            self.console_log.flush()
            self.lines.put((time.monotonic(), line))
        self.lines.put((time.monotonic(), None))

    def _expect(self, pattern, limit_s, what):
        deadline = time.monotonic() + limit_s
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                self.dead = f"{what} took over {limit_s} s"
                raise Failure(self.dead)
            try:
                arrived, line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                self.dead = f"QEMU ended during {what}"
                raise Failure(self.dead)
            if line.startswith("@@fail"):
                raise Failure(line[2:])
            if pattern.match(line):
                return arrived, line

    def send(self, command):
        """Starts a shell line in the guest; collect() gives its status and output."""
        # A guest that stopped answering fails the cases left at once, not each after its limit.
        check(self.dead is None, f"the guest is gone: {self.dead}")
        self.next_id += 1
        n = self.next_id
        line = (f"{{ {command}\n}} </dev/null >/tmp/out.{n} 2>&1; echo \"@@rc {n} $?\"; "
                f"sed 's/^/@@o {n} /' /tmp/out.{n}; echo \"@@end {n}\"\n")
        self.proc.stdin.write(line.encode())
        self.proc.stdin.flush()
        return n

    def collect(self, n, limit_s=COMMAND_LIMIT_S):
        """(status, output lines, the time the status arrived) of a line sent."""
        mine = re.compile(rf"@@(rc|o|end) {n}( |$)")
        arrived, line = self._expect(mine, limit_s, f"guest command {n}")
        check(line.startswith("@@rc"), f"guest command {n}: output before its status")
        status = int(line.split()[2])
        out = []
        while True:
            _, line = self._expect(mine, limit_s, f"guest command {n}")
            if line.startswith("@@end"):
                return status, out, arrived
            out.append(line[len(f"@@o {n} "):])

    def run(self, command, limit_s=COMMAND_LIMIT_S):
        status, out, _ = self.collect(self.send(command), limit_s)
        return status, out

    def start(self, command):
        """Starts a command in the background: its pid goes to /tmp/pid.<n>, its output to
        /tmp/out.<n>, for the returned n."""
        n = self.next_id + 1
        self.run(f"{command} & echo $! >/tmp/pid.{n}")
        return n

    def wait_until(self, condition, limit_s):
        tries = int(limit_s / 0.05)
        status, _ = self.run(f"i=0; until {condition}; do [ $i -ge {tries} ] && break; "
                             f"sleep 0.05; i=$((i+1)); done; {condition}", limit_s + 30)
        return status == 0

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.console_log.close()


def end_records(lines):
    records = []
    for line in lines:
        try:
            record = json.loads(line)
        except ValueError:
            continue
        if isinstance(record, dict) and record.get("record") == "end":
            records.append(record)
    return records


def check_update(status, out, sim, frames_before, expected_records=1):
    check(status == 0, f"exit {status}: {' | '.join(out[-3:])}")
    ends = end_records(out)
    check(len(ends) == expected_records, f"{len(ends)} end records, not {expected_records}")
    for end in ends:
        check(end.get("outcome") == " Program Ok " and end.get("code") == 0,
              f"end record {end.get('outcome')!r}, code {end.get('code')}")
    frames = sim.frames() - frames_before
    check(frames == FRAMES_PER_UPDATE, f"the board took {frames} frames, not {FRAMES_PER_UPDATE}")
    check(sim.wire_sha256() == RELEASE_WIRE_SHA256,
          f"board memory {sim.wire_sha256()[:16]}..., not the release's")


def wait_for(predicate, limit_s, what):
    deadline = time.monotonic() + limit_s
    while not predicate():
        if time.monotonic() > deadline:
            raise Failure(f"{what}: not within {limit_s} s")
        time.sleep(0.01)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--initrd", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    # A TERM or INT (CI's time limit, Ctrl-C) still stops QEMU and the boards.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    started = time.monotonic()
    passed = failed = 0
    timings = {}
    sims = []
    guest = None
    state = {}

    def case(name, body):
        nonlocal passed, failed
        try:
            note = body()
            print(f"PASS {name}" + (f" ({note})" if note else ""), flush=True)
            passed += 1
        except (Failure, OSError, RuntimeError) as error:
            print(f"FAIL {name}: {error}", flush=True)
            failed += 1

    try:
        usb_board = Sim(args.sim, args.work, 1)
        uart_board = Sim(args.sim, args.work, 2)
        sims += [usb_board, uart_board]
        guest = Guest(args, args.work, usb_board.pty, uart_board.pty)
        guest.boot()
        timings["boot"] = guest.boot_s
        # The xHCI controller enumerates the adapter after its modules are loaded.
        if not guest.wait_until("[ -e /dev/ttyUSB0 ]", 30):
            raise Failure("the adapter did not appear as /dev/ttyUSB0")
        timings["ttyUSB0 there"] = time.monotonic() - guest.started

        def adapter_update():
            # The guest first sets 9600 8N1 itself, so what the host reads afterwards is the
            # guest driver's doing, not QEMU's or the board's own defaults.
            status, out = guest.run("chmod 666 /dev/ttyUSB0 && stty -F /dev/ttyUSB0 9600 -cstopb "
                                    "&& readlink -f /sys/class/tty/ttyUSB0/device")
            check(status == 0, f"no /dev/ttyUSB0 in the guest: {' | '.join(out)}")
            state["usb_path"] = out[-1]
            state["before"] = usb_board.line_settings()
            frames = usb_board.frames()
            begun = time.monotonic()
            job = guest.start("quillet-cli --port /dev/ttyUSB0 --json")
            wait_for(lambda: usb_board.frames() >= frames + 20, 30, "programming")
            state["during"] = usb_board.line_settings()
            state["second"] = guest.run("quillet-cli --port /dev/ttyUSB0")
            state["user"] = guest.run("su nobody -c 'stty -F /dev/ttyUSB0'")
            status, _ = guest.run(f"wait $(cat /tmp/pid.{job})")
            timings["update ttyUSB0"] = time.monotonic() - begun
            _, out = guest.run(f"cat /tmp/out.{job}")
            check_update(status, out, usb_board, frames)

        case("update through the FTDI adapter (/dev/ttyUSB0)", adapter_update)

        def line_settings():
            check("during" in state, "no update ran")
            for when, expected in (("before", termios.B9600), ("during", termios.B115200)):
                speed = state[when][4]
                check(speed == expected, f"{when} the update the line ran at speed code "
                      f"{speed:#o}, expected {expected:#o}")
            iflag, _, cflag, _, _, _, _ = state["during"]
            check(cflag & termios.CSIZE == termios.CS8, "not 8 data bits")
            check(not cflag & termios.PARENB, "parity on")
            check(cflag & termios.CSTOPB, "not 2 stop bits")
            check(not cflag & termios.CRTSCTS, "hardware flow control on")
            check(not iflag & (termios.IXON | termios.IXOFF), "software flow control on")
            return "9600 8N1 set by stty, then 115200 8N2 by quillet-cli"

        case("line settings read back on the host (115200 8N2, no flow control)", line_settings)

        def exclusive_open():
            check("second" in state, "no update ran")
            status, out = state["second"]
            check(status == 3, f"a second quillet-cli on the port ended with {status}, not 3")
            check(any("in use" in line for line in out), f"it said {' | '.join(out)}")
            second = next(line for line in out if "in use" in line).strip()
            status, out = state["user"]
            check(status != 0 and any("busy" in line for line in out),
                  f"another user's open: status {status}, {' | '.join(out)}")
            return f"{second}; {out[-1].strip()}"

        case("exclusive open keeps a second opener off (flock for root, TIOCEXCL for a user)",
             exclusive_open)

        def whole_update(port, board, timing):
            def run():
                frames = board.frames()
                begun = time.monotonic()
                status, out = guest.run(f"quillet-cli --port {port} --json")
                timings[timing] = time.monotonic() - begun
                check_update(status, out, board, frames)
            return run

        case("update through the FTDI adapter by its COM number (COM33)",
             whole_update("COM33", usb_board, "update COM33"))
        case("update through the 16550 UART (/dev/ttyS1)",
             whole_update("/dev/ttyS1", uart_board, "update ttyS1"))

        def two_boards():
            usb_frames, uart_frames = usb_board.frames(), uart_board.frames()
            begun = time.monotonic()
            status, out = guest.run("quillet-cli --port /dev/ttyUSB0 --port /dev/ttyS1 --json")
            timings["two boards"] = time.monotonic() - begun
            check_update(status, out, usb_board, usb_frames, expected_records=2)
            check_update(0, [], uart_board, uart_frames, expected_records=0)

        case("two boards at once (FTDI adapter and 16550)", two_boards)

        def list_ports(expected):
            status, out = guest.run("quillet-cli --list")
            check(status == 0, f"--list ended with {status}")
            usb = [line for line in out if "ttyUSB0" in line]
            check(usb and expected in usb[0], f"the adapter is listed as {usb}")
            check(any("COM2" in line and "ttyS1" in line for line in out),
                  f"the 16550 is not listed as COM2: {out}")
            return usb[0].strip()

        # Without udev's database the product string comes from sysfs.
        case("--list without udevd", lambda: list_ports("QEMU USB SERIAL (ttyUSB0)"))

        def unplug():
            frames = usb_board.frames()
            job = guest.start("quillet-cli --port /dev/ttyUSB0 --json")
            waiting = guest.send(f"wait $(cat /tmp/pid.{job})")
            wait_for(lambda: usb_board.frames() >= frames + 60, 30, "programming")
            unplugged = time.monotonic()
            guest.qmp.command("device_del", id=ADAPTER["id"])
            time.sleep(0.2)  # the bytes the guest had sent before it reach the board
            state["after_unplug"] = len(usb_board.lines())
            status, _, ended = guest.collect(waiting)
            timings["unplug to exit"] = ended - unplugged
            _, out = guest.run(f"cat /tmp/out.{job}")
            check(status == 6, f"exit {status}, not 6 (transfer failed): {' | '.join(out[-2:])}")
            check(ended - unplugged < UNPLUG_LIMIT_S,
                  f"the run ended {ended - unplugged:.2f} s after the unplug")
            ends = end_records(out)
            check(len(ends) == 1, f"{len(ends)} end records")
            end = ends[0]
            check(end.get("outcome") == " not Response ", f"outcome {end.get('outcome')!r}")
            check("port_lost" in end, f"the end record does not say the port went away: {end}")
            # What the run counts as sent is what the board received, give or take the frame
            # on the line as the adapter vanished: no write was tried after the unplug.
            received = usb_board.frames() - frames
            check(end.get("resends") == 0 and end.get("frames", 0) - received <= 1,
                  f"the run sent {end.get('frames')} frames and {end.get('resends')} resends, "
                  f"the board received {received}")
            return f"ended {1000 * (ended - unplugged):.0f} ms after device_del, {end['port_lost']}"

        case("unplug mid-update (device_del while programming)", unplug)

        def replug():
            check("after_unplug" in state, "no unplug")
            guest.qmp.command("device_add", **ADAPTER)
            begun = time.monotonic()
            check(guest.wait_until("[ -e /dev/ttyUSB0 ]", 10), "no /dev/ttyUSB0 after the replug")
            timings["replug to ttyUSB0"] = time.monotonic() - begun
            _, out = guest.run("readlink -f /sys/class/tty/ttyUSB0/device")
            check(out and out[-1] == state.get("usb_path"),
                  f"back at {out}, not {state.get('usb_path')}")
            time.sleep(0.5)
            check(len(usb_board.lines()) == state["after_unplug"],
                  "the board received bytes after the unplug: "
                  f"{usb_board.lines()[state['after_unplug']:][:3]}")
            frames = usb_board.frames()
            status, out = guest.run("quillet-cli --port /dev/ttyUSB0 --json")
            check_update(status, out, usb_board, frames)
            return "the same USB path; nothing reached the board between unplug and next update"

        case("replug at the same USB port, next update passes", replug)

        def repeat_swap():
            job = guest.start("quillet-cli --port /dev/ttyUSB0 --repeat --log /tmp/repeat.jsonl")
            check(guest.wait_until("[ -s /tmp/repeat.jsonl ]", 60), "board 1 was not logged")
            # The adapter with board 1 out, an adapter with a fresh board 2 in.
            guest.qmp.command("device_del", id=ADAPTER["id"])
            # The chardev is free once the device is gone, a moment after device_del returns.
            deadline = time.monotonic() + 10
            while True:
                try:
                    guest.qmp.command("chardev-remove", id="usbline")
                    break
                except Failure:
                    if time.monotonic() > deadline:
                        raise
                    time.sleep(0.05)
            board2 = Sim(args.sim, args.work, 3)
            sims.append(board2)
            state["board2"] = board2
            guest.qmp.command("chardev-add", id="usbline",
                              backend={"type": "serial", "data": {"device": board2.pty}})
            guest.qmp.command("device_add", **ADAPTER)
            check(guest.wait_until("[ $(wc -l </tmp/repeat.jsonl) -ge 2 ]", 60),
                  "board 2 was not logged")
            status, _ = guest.run(f"kill -INT $(cat /tmp/pid.{job}); wait $(cat /tmp/pid.{job})")
            _, log = guest.run("cat /tmp/repeat.jsonl")
            check(status == 0, f"exit {status} after Ctrl-C")
            records = end_records(log)
            check(len(records) == 2 and all(r.get("code") == 0 for r in records),
                  f"log: {[(r.get('outcome'), r.get('code')) for r in records]}")
            check_update(0, [], board2, 0, expected_records=0)
            return "two records, exit 0"

        case("--repeat across an adapter swap (board 1, unplug, replug, board 2, Ctrl-C)",
             repeat_swap)

        def udev_rule():
            begun = time.monotonic()
            status, out = guest.run("/lib/systemd/systemd-udevd --daemon && "
                                    "udevadm trigger --action=add && udevadm settle -t 60")
            timings["udev settle"] = time.monotonic() - begun
            check(status == 0, f"udevd: {' | '.join(out[-3:])}")
            _, usb = guest.run("udevadm info /dev/ttyUSB0")
            _, uart = guest.run("udevadm info /dev/ttyS1")
            tagged = lambda info: any(line.startswith("E: TAGS=") and ":uaccess:" in line
                                      for line in info)
            check("E: ID_MM_DEVICE_IGNORE=1" in usb,
                  f"the adapter lacks ID_MM_DEVICE_IGNORE=1: {' | '.join(usb)}")
            check(tagged(usb), f"the adapter lacks the uaccess tag: {' | '.join(usb)}")
            check("E: ID_MM_DEVICE_IGNORE=1" not in uart and not tagged(uart),
                  "the rule touched the 16550")
            state["udev"] = True

        case("package udev rule: adapter ignored by ModemManager and tagged uaccess, 16550 "
             "left alone", udev_rule)

        def list_with_udev():
            check(state.get("udev"), "no udevd")
            return list_ports("QEMU USB SERIAL (ttyUSB0)")

        case("--list with udevd", list_with_udev)

        # The window, on the adapter that now holds board 2 (COM33, chosen in its settings),
        # under Xvfb inside the guest; "\\P" makes it send each outcome as a datagram.
        gui_board = state.get("board2", usb_board)

        def datagrams():
            _, out = guest.run("od -An -tx1 -v /tmp/parent.bin | tr -d ' \\n'; echo")
            text = "".join(out)
            return [text[i:i + 24] for i in range(0, len(text) - 23, 24)]

        def window_update():
            # An X server started with SIGUSR1 ignored signals its parent with it when ready and
            # at each reset: the subshell that ignores it is that parent, not the guest's shell.
            begun = time.monotonic()
            status, out = guest.run(
                "mkdir -p /tmp/xdg/Tessaly && printf '[General]\\ncom=32\\n' "
                ">/tmp/xdg/Tessaly/Quillet.conf && "
                "socat -u UDP-RECV:3000 OPEN:/tmp/parent.bin,creat,append & "
                "(trap '' USR1; Xvfb :1 -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1; "
                "true) & "
                "i=0; until [ -e /tmp/.X11-unix/X1 ] || [ $i -ge 600 ]; do sleep 0.05; "
                "i=$((i+1)); done; DISPLAY=:1 QT_QPA_PLATFORM=xcb XDG_CONFIG_DIRS=/tmp/xdg "
                "quillet '\\P' >/tmp/window.log 2>&1 & "
                "DISPLAY=:1 timeout 60 xdotool search --sync --onlyvisible --classname quillet")
            check(status == 0 and out, f"no window: {' | '.join(out)}")
            timings["window shown"] = time.monotonic() - begun
            state["window"] = out[-1].strip()
            frames = gui_board.frames()
            begun = time.monotonic()
            status, out = guest.run(f"DISPLAY=:1 timeout 10 xdotool windowfocus --sync "
                                    f"{state['window']} key alt+u")
            check(status == 0, f"xdotool: {' | '.join(out)}")
            wait_for(lambda: gui_board.frames() >= frames + FRAMES_PER_UPDATE, 60, "the update")
            check(guest.wait_until("[ $(wc -c </tmp/parent.bin) -ge 12 ]", 10), "no datagram")
            timings["window update"] = time.monotonic() - begun
            check(datagrams() == ["000000040000000000000001"],
                  f"datagrams {datagrams()}, not the success one")
            check_update(0, [], gui_board, frames, expected_records=0)
            return "\" Program Ok \" datagram, the board's memory as the release's"

        case("the window: a whole update through the FTDI adapter (Xvfb, xdotool)",
             window_update)

        def window_unplug():
            check("window" in state, "no window")
            frames = gui_board.frames()
            guest.run(f"DISPLAY=:1 timeout 10 xdotool windowfocus --sync {state['window']} "
                      "key alt+u")
            wait_for(lambda: gui_board.frames() >= frames + 60, 30, "programming")
            unplugged = time.monotonic()
            guest.qmp.command("device_del", id=ADAPTER["id"])
            # Polled every 50 ms: an upper bound of when the window had its outcome.
            check(guest.wait_until("[ $(wc -c </tmp/parent.bin) -ge 24 ]", 5),
                  "no datagram after the unplug")
            ended = time.monotonic() - unplugged
            timings["window unplug to outcome"] = ended
            after = len(gui_board.lines())
            check(datagrams()[1:] == ["000000040000000000000000"],
                  f"datagrams {datagrams()}, not a failure after the success")
            check(ended < UNPLUG_LIMIT_S, f"the outcome came {ended:.2f} s after the unplug")
            status, _ = guest.run("pidof quillet")
            check(status == 0, "the window closed")
            time.sleep(0.3)
            check(len(gui_board.lines()) == after, "the board received bytes after the unplug")
            return f"failure datagram within {1000 * ended:.0f} ms, the window still there"

        case("the window: unplug mid-update", window_unplug)
    except (Failure, RuntimeError, OSError) as error:
        print(f"FAIL setting up the guest: {error}", flush=True)
        failed += 1
    finally:
        if guest is not None:
            guest.stop()
        for sim in sims:
            sim.stop()

    if failed:  # the run's folder goes with it: keep the guest's last words
        with open(os.path.join(args.work, "console.log"), errors="replace") as f:
            print("--- the guest's console, last lines ---\n" + "".join(f.readlines()[-30:]))
    timings["total"] = time.monotonic() - started
    print("timings: " + ", ".join(f"{k} {v:.2f} s" for k, v in timings.items()), flush=True)
    print(f"drivers: {passed} passed, {failed} failed", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
