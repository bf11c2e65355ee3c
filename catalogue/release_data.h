// The image sets that this release carries (defined in release_data.cpp).
#pragma once

#include "catalogue/catalogue.h"

// Limits the programming sequence relies on and nothing at run time re-checks: the header
// bytes and the reset patch must lie inside the image, the fix bytes inside one block, and
// every EEPROM index must fit the one-byte address field.
constexpr bool ImageSetFitsLimits(int chipSlot, int fixSize, int flashSize, int eepromSize) {
    const bool largeChip = chipSlot == 6;
    const int blockSize = largeChip ? 256 : 64;
    const int minimumFlash = largeChip ? 1026 : 16; // header bytes 1024/1025 or 14/15
    if (fixSize < 0 || fixSize > blockSize || eepromSize > 256)
        return false;
    return flashSize <= 1 || flashSize >= minimumFlash;
}

// The release's entries, in the order BuildImageCatalogue writes them.
const ReleaseImageSet* ReleaseImageSets();
int ReleaseImageSetCount();
