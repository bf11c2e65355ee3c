// The chip families a bootloader reports, and what the programming run derives from each.
// Plain constants without Qt: the release tool checks a release's images against the same
// table at build time.
#pragma once

#include "catalogue/catalogue.h" // the chip codes kChip24J10 and kChip24HJ64

#include <cstdint>

// Protected areas at the top of program memory that the bootloader keeps for itself.
inline constexpr std::int32_t kBootAreaBefore5 = 320; // chips 'B'..'F', bootloader below 5
inline constexpr std::int32_t kBootAreaFrom5 = 448;   // chips 'B'..'F', bootloader 5 and on
inline constexpr std::int32_t kLargeBootArea = 1088;  // chip 0xC7, every bootloader

// A range of byte addresses of a toolchain's HEX output, end excluded.
struct HexRange {
    std::uint32_t begin;
    std::uint32_t end;
};

// Everything chip-specific, by chip code.
struct ChipFamily {
    std::uint8_t code;
    const char* statusText; // "Found " and the family name
    std::int32_t memoryTop; // address units; the protected boot area lies below it
    std::uint8_t patchBefore5[4];
    std::uint8_t patchFrom5[4];
    // Configuration and ID words in the toolchain's HEX output. The bootloader cannot write
    // them, so a release drops them.
    HexRange configuration;
};

// clang-format off
inline constexpr ChipFamily kChipFamilies[] = {
    // 'B'..'F': ID locations at 0x200000, configuration at 0x300000, device ID at 0x3FFFFE.
    {'B', "Found 258", 0x8000, {0x80, 0xEF, 0x3F, 0xF0}, {0x40, 0xEF, 0x3F, 0xF0}, {0x200000, 0x400000}},
    {'C', "Found 2580", 0x8000, {0x80, 0xEF, 0x3F, 0xF0}, {0x40, 0xEF, 0x3F, 0xF0}, {0x200000, 0x400000}},
    {'D', "Found 2480", 0x4000, {0x80, 0xEF, 0x1F, 0xF0}, {0x40, 0xEF, 0x1F, 0xF0}, {0x200000, 0x400000}},
    {'E', "Found 248", 0x4000, {0x80, 0xEF, 0x1F, 0xF0}, {0x40, 0xEF, 0x1F, 0xF0}, {0x200000, 0x400000}},
    {'F', "Found 2320", 0x2000, {0x80, 0xEF, 0x0F, 0xF0}, {0x80, 0xEF, 0x0F, 0xF0}, {0x200000, 0x400000}},
    // 0xC7 keeps its configuration words in the last eight bytes of program memory.
    {kChip24J10, "Found 24j10", 0x4000, {0x00, 0xEF, 0x1E, 0xF0}, {0x00, 0xEF, 0x1E, 0xF0}, {0x3FF8, 0x4000}},
    // Configuration at address unit 0xF80000, device ID at 0xFF0000: two HEX bytes per unit.
    {kChip24HJ64, "Found 24HJ64", 0xA800, {}, {}, {0x1F00000, 0x2000000}},
};
// clang-format on
inline constexpr std::uint8_t kPatch24HJ64[8] = {0x00, 0xA8, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};

constexpr const ChipFamily* FindChipFamily(std::uint8_t code) {
    for (const ChipFamily& family : kChipFamilies)
        if (family.code == code)
            return &family;
    return nullptr;
}

// Image bytes per device address unit.
constexpr std::int32_t AddressUnitOf(std::uint8_t code) {
    return code == kChip24HJ64 ? 2 : 1;
}
// Data bytes per program-memory block.
constexpr std::int32_t BlockSizeOf(std::uint8_t code) {
    return code == kChip24HJ64 ? AddressUnitOf(code) * 128 : 64;
}
constexpr std::int32_t ResetPatchLengthOf(std::uint8_t code) {
    return code == kChip24HJ64 ? 8 : 4;
}
// First address unit above the programmable area; the fix block is written there.
constexpr std::int32_t ProgramLimitOf(const ChipFamily& family, std::int32_t bootArea,
                                      std::int32_t largeBootArea) {
    if (family.code == kChip24HJ64)
        return family.memoryTop - BlockSizeOf(family.code) / AddressUnitOf(family.code);
    return family.memoryTop - (family.code == kChip24J10 ? largeBootArea : bootArea);
}
