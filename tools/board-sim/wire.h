// Bytes and timings of the bootloader's serial protocol, as the board sees them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace boardsim::wire {

// Host to board.
constexpr std::uint8_t kProbeMain = 0xC2;        // search probe, full window
constexpr std::uint8_t kProbeCompact = 0xC5;     // search probe, compact window
constexpr std::uint8_t kEnterProgramming = 0xCC; // bare byte, answered 'K'
constexpr std::uint8_t kCmdFlashBlock = 0x00;    // 0x00, addr hi, addr lo, length, data..., sum
constexpr std::uint8_t kCmdEepromByte = 0x40;    // 0x40, addr, data, 0x01, 0x00, sum

// Board to host.
constexpr std::uint8_t kAck = 'K';           // accepted; also ends identity and text block
constexpr std::uint8_t kNak = 'N';           // checksum refused, host resends
constexpr std::uint8_t kVersionRecord = 'V'; // 'V', version, chip, board, preparation, 'K'
constexpr std::uint8_t kTextBlock = 'R';     // 'R', length, spare, data..., 'K'

// Bootloader versions that follow their identity with a text block.
constexpr int kTextBlockVersionMin = 8;
constexpr int kTextBlockVersionMax = 31;

// Layout of the text block's data bytes.
constexpr std::size_t kTextChars = 24;            // bytes 0..23: the board's own text
constexpr std::size_t kProtectedStartOffset = 24; // 16-bit little-endian, address units
constexpr std::size_t kProtectedLengthOffset = 26;

constexpr std::size_t kEepromFrameBytes = 6; // five command bytes and the checksum
constexpr std::size_t kEepromSize = 256;     // the frame carries 8 address bits
constexpr int kMaxSends = 5;                 // the host gives up after the fifth 'N'

constexpr std::uint8_t kChipWide = 0xFE; // 16-bit program words: 2 bytes per address unit

// 115200 baud with start bit, 8 data bits and 2 stop bits: 11 bit times, ~95.5 us a byte.
constexpr std::chrono::nanoseconds kByteTime{11 * 1'000'000'000LL / 115200};

// A frame that stalls this long is given up, so the parser finds the next command byte.
constexpr std::chrono::milliseconds kResyncIdle{300};

struct ChipLayout {
    int blockSize;      // data bytes of a full flash block
    int addressUnit;    // memory bytes per address unit
    bool twoByteLength; // the length field is two bytes, high first
};

// Unknown chips are handled like the 8-bit families.
constexpr ChipLayout chipLayout(std::uint8_t chip) {
    return chip == kChipWide ? ChipLayout{256, 2, true} : ChipLayout{64, 1, false};
}

// The bootloader unscrambles what it writes by XOR with a one-byte key: the key of 0 for image
// and EEPROM bytes, the key of its address's low byte for the fix block.
constexpr std::uint8_t kKeyConstant = 0x6B;
constexpr std::uint8_t key(std::uint8_t value) {
    return static_cast<std::uint8_t>(value + kKeyConstant);
}

// Address unit of the fix block, the first above the programmable area; -1 for a chip the
// host does not program. The boot area below the memory top grows from bootloader version 5.
constexpr int fixBlockAddress(std::uint8_t chip, std::uint8_t bios) {
    const int bootArea = bios < 5 ? 320 : 448;
    switch (chip) {
    case 'B':
    case 'C':
        return 0x8000 - bootArea;
    case 'D':
    case 'E':
        return 0x4000 - bootArea;
    case 'F':
        return 0x2000 - bootArea;
    case 0xC7:
        return 0x4000 - 1088;
    case kChipWide:
        return 0xA800 - 128;
    default:
        return -1;
    }
}

} // namespace boardsim::wire
