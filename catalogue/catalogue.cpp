#include "catalogue/catalogue.h"

#include "catalogue/release_data.h"

ImageDescriptor ImageCatalogue[kCatalogueRows][kCatalogueColumns];
ImageDescriptor SelectedImage;
std::uint8_t ImagesScrambled = 1;

void BuildImageCatalogue() {
    for (auto& row : ImageCatalogue)
        for (auto& entry : row)
            entry.FlashSize = 0;
    const ReleaseImageSet* sets = ReleaseImageSets();
    for (int i = 0; i < ReleaseImageSetCount(); ++i)
        ImageCatalogue[sets[i].boardCode][sets[i].chipSlot] = sets[i].image;
}

int ChipSlot(std::uint8_t chipCode) {
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
    case 0xC7:
        return 5;
    case 0xFE:
        return 6;
    default:
        return 0;
    }
}

int ImageBoardCodeOffset(int chipSlot) {
    return chipSlot == 6 ? 1024 : 14;
}

void SelectImage(std::uint8_t chipCode, std::uint8_t boardCode) {
    const int slot = ChipSlot(chipCode);
    // Board code 255 has no row of its own: treat it like a board without an image.
    if (boardCode < kCatalogueRows)
        SelectedImage = ImageCatalogue[boardCode][slot];
    else
        SelectedImage.FlashSize = 0;
    if (SelectedImage.FlashSize <= 1)
        SelectedImage = ImageCatalogue[0][slot];
}

std::uint8_t ImageKey(std::uint8_t value, std::uint8_t scrambled) {
    if (scrambled == 0)
        return 0;
    return static_cast<std::uint8_t>(value + ImageKeyConstant); // wraps modulo 256
}
