// The firmware images this release carries, catalogued by board code and chip family,
// the key routine for single image bytes, and the board and preparation name tables.
#pragma once

#include <cstdint>

// One catalogue entry. The arrays live for the whole run; the catalogue never owns them.
struct ImageDescriptor {
    const std::uint8_t* FixData = nullptr;
    std::int32_t FixSize = 0;
    std::uint8_t* FlashData = nullptr; // writable: the reset patch is written into it
    std::int32_t FlashSize = 0;        // 1 or less: the entry holds no image
    const std::uint8_t* EepromData = nullptr;
    std::int32_t EepromSize = 0; // 0 or less: no EEPROM step
};

inline constexpr int kCatalogueRows = 255;   // board codes 0..254
inline constexpr int kCatalogueColumns = 10; // chip slots; only 0..6 are reachable
inline constexpr std::uint8_t ImageKeyConstant = 0x6B;

// Chip codes the catalogue treats apart: 0xC7 has a large boot area; 0xFE has word addresses,
// a column of its own and its image header at 1024.
inline constexpr std::uint8_t kChip24J10 = 0xC7;
inline constexpr std::uint8_t kChip24HJ64 = 0xFE;
inline constexpr int kChip24HJ64Slot = 6;

extern ImageDescriptor ImageCatalogue[kCatalogueRows][kCatalogueColumns];
extern ImageDescriptor SelectedImage;
// Releases are built with their images scrambled (see the release tool).
inline constexpr std::uint8_t kReleaseImagesScrambled = 1;
extern std::uint8_t ImagesScrambled;

// Fills the catalogue with this release's entries. Running it again gives the same catalogue.
void BuildImageCatalogue();
// Copies the entry for (chip, board) into SelectedImage, falling back to row 0 of the chip's
// slot when the board's own entry holds no image. Board code 255 has no row: it falls back too.
void SelectImage(std::uint8_t chipCode, std::uint8_t boardCode);
// Column of the catalogue for a chip code; unknown chips map to slot 0.
constexpr int ChipSlot(std::uint8_t chipCode) {
    switch (chipCode) {
    case 'B':
        return 0;
    case 'C':
        return 1;
    case 'D':
        return 2;
    case 'E':
        return 3;
    case 'F':
        return 4;
    case kChip24J10:
        return 5;
    case kChip24HJ64:
        return kChip24HJ64Slot;
    default:
        return 0;
    }
}
// Key for scrambling or unscrambling one image byte by XOR; 0 when images are stored plain.
constexpr std::uint8_t ImageKey(std::uint8_t value, std::uint8_t scrambled) {
    if (scrambled == 0)
        return 0;
    return static_cast<std::uint8_t>(value + ImageKeyConstant); // wraps modulo 256
}
// Positions of the image's own board and preparation codes in FlashData for a chip slot.
constexpr int ImageBoardCodeOffset(int chipSlot) {
    return chipSlot == kChip24HJ64Slot ? 1024 : 14;
}

// Display names. BoardName falls back to "KJA_R02" outside 1..BoardNameCount-1.
inline constexpr std::uint8_t BoardNameCount = 24;
inline constexpr std::uint8_t PreparationNameCount = 11;
extern const char* const BoardNames[BoardNameCount];
extern const char* const ConnectorNames[BoardNameCount];
extern const char* const PreparationNames[PreparationNameCount];
const char* BoardName(int index);

// One image set of a release, as declared in the release's data file.
struct ReleaseImageSet {
    int boardCode;
    int chipSlot;
    ImageDescriptor image;
};
