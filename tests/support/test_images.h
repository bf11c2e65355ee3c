// Image sets a test installs in the catalogue, beside the release's own.
#pragma once

#include <cstdint>
#include <vector>

struct TestImage {
    std::vector<std::uint8_t> flash;
    std::vector<std::uint8_t> fix;
    std::vector<std::uint8_t> eeprom;
};

// A program image of `size` stored bytes whose header carries board and preparation codes
// (at 14/15, or 1024/1025 for chip slot 6), the rest a recognisable byte pattern.
TestImage MakeTestImage(int chipSlot, int size, std::uint8_t board, std::uint8_t preparation,
                        int fixSize = 8, int eepromSize = 0);

// Installs the image as catalogue entry (board, chipSlot). The image must outlive its use;
// BuildImageCatalogue() puts the release's catalogue back.
void InstallTestImage(int board, int chipSlot, TestImage& image);
