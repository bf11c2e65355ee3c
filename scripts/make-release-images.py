#!/usr/bin/env python3
"""Writes releases/mericon/board16.hex, the program memory of the repository's own release.

The real release firmware is not part of this repository, so the release carries a
deterministic synthetic image that looks like a toolchain's output for chip 0xFE: 24-bit
instruction words in four-byte slots (the fourth byte is the unused phantom byte), a reset
vector, and the board and preparation codes in the header at bytes 1024 and 1025. HEX byte
address = image byte index. The build scrambles it into the stored form (cmake/Release.cmake).
"""
import os
import sys

FLASH_SIZE = 46435
BOARD_CODE = 16
PREPARATION_CODE = 0x02


def program_memory():
    plain = bytearray()
    state = 0x1234ABCD
    # goto 0x000200 at the reset vector, then the vector table, then code.
    plain += bytes([0x00, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00])
    while len(plain) < 0x200 * 2:
        plain += bytes([0x00, 0x02, 0x00, 0x00])  # vectors pointing at a default handler
    opcodes = [0x78, 0x80, 0x88, 0xEB, 0x20, 0xB0, 0xA8, 0xA9, 0x07, 0x06, 0x37, 0x3A]
    while len(plain) < FLASH_SIZE:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        plain += bytes([state & 0xFF, (state >> 8) & 0xFF, opcodes[(state >> 16) % len(opcodes)], 0x00])
    plain = plain[:FLASH_SIZE]
    plain[1024] = BOARD_CODE
    plain[1025] = PREPARATION_CODE
    return bytes(plain)


def record(kind, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    return ":" + body.hex().upper() + "%02X" % (-sum(body) & 0xFF) + "\n"


def intel_hex(data):
    lines = []
    for address in range(0, len(data), 16):
        if address % 0x10000 == 0 and address:
            lines.append(record(4, 0, bytes([address >> 24 & 0xFF, address >> 16 & 0xFF])))
        lines.append(record(0, address & 0xFFFF, data[address:address + 16]))
    lines.append(record(1, 0, b""))
    return "".join(lines)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "releases", "mericon", "board16.hex")
    with open(out, "w", newline="\n") as f:
        f.write(intel_hex(program_memory()))


if __name__ == "__main__":
    main()
