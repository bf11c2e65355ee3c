#!/usr/bin/env python3
"""Writes the stored (scrambled) image files of this release into catalogue/data.

The real release firmware is not part of this repository, so the release carries a
deterministic synthetic image set that looks like program memory: 24-bit instruction
words in four-byte slots (the fourth byte is the unused phantom byte), a reset vector,
and the board and preparation codes in the header at bytes 1024 and 1025.
Stored form: every program byte XOR the key for value 0; the fix bytes XOR the key for
the low byte of their block address (0xA780 -> 0x80).
"""
import os
import sys

KEY_CONSTANT = 0x6B
FLASH_SIZE = 46435
BOARD_CODE = 16
PREPARATION_CODE = 0x02
FIX_PLAIN = bytes([0x7F, 0xCF, 0x00, 0x00, 0xE7, 0x00, 0x00, 0x00])  # configuration words
FIX_ADDRESS_LOW = 0x80


def key(value):
    return (value + KEY_CONSTANT) & 0xFF


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
    return bytes(b ^ key(0) for b in plain)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "catalogue", "data")
    with open(os.path.join(out, "board16_fe_flash.bin"), "wb") as f:
        f.write(program_memory())
    with open(os.path.join(out, "board16_fe_fix.bin"), "wb") as f:
        f.write(bytes(b ^ key(FIX_ADDRESS_LOW) for b in FIX_PLAIN))
    with open(os.path.join(out, "placeholder.bin"), "wb") as f:
        f.write(bytes([0x00]))


if __name__ == "__main__":
    main()
