// The frames of a programming run, computed before anything is sent: a pure function of the
// run's sizes and the selected image, so that every address, length field and byte can be
// checked without a port. ProgramDevice sends the plan in order.
#pragma once

#include <cstdint>
#include <vector>

struct ChipFamily;
struct ImageDescriptor;

enum class FrameKind : std::uint8_t {
    kFullBlock,  // BlockSize image bytes; not sent when it ends in the protected range
    kLastBlock,  // the rest of the image, 1..BlockSize bytes, its length field to match
    kFixBlock,   // at ProgramLimit: fill bytes, the fix bytes at its end
    kEepromByte, // one EEPROM byte
};

struct PlannedFrame {
    FrameKind kind;
    std::int32_t address; // first address unit of a block; the byte index of an EEPROM frame
    std::int32_t end;     // full block: the address unit just past it (the progress shown)
    bool skipped;         // full block ending inside the protected range
    std::vector<std::uint8_t> bytes; // the command bytes, without the checksum
};

// The sizes of one run, as ProgramDevice has set them for the chip.
struct RunLayout {
    std::int32_t addressUnit = 1;   // image bytes per address unit
    std::int32_t blockSize = 64;    // data bytes per block
    std::int32_t programLimit = 0;  // address unit of the fix block
    std::int32_t programLength = 0; // image bytes that are sent
    std::int32_t skipStart = 0;     // protected range of address units; 0: none
    std::int32_t skipLength = 0;
    std::uint8_t fixKey = 0; // key of the fix block's bytes (ImageKey of ProgramLimit's low byte)
};

// The sizes of a run on a chip of the family (session/chip_families.h), from the chip
// parameters (SetupChipParameters) and the image's size. An image longer than the programmable
// area is cut, except on 0xFE (the run refuses it). The protected range and the fix key are
// left at 0.
RunLayout ChipRunLayout(const ChipFamily& family, std::int32_t addressUnit,
                        std::int32_t bootAreaSize, std::int32_t largeBootAreaSize,
                        std::int32_t flashSize);

// Every frame of the run in sending order: the image blocks, the fix block, then the EEPROM
// bytes. The image bytes go out as stored (the reset patch must already be in the image).
std::vector<PlannedFrame> PlanProgramming(const RunLayout& layout, const ImageDescriptor& image);
