#include "catalogue/catalogue.h"

#include "catalogue/release_data.h"

ImageDescriptor ImageCatalogue[kCatalogueRows][kCatalogueColumns];
ImageDescriptor SelectedImage;
std::uint8_t ImagesScrambled = kReleaseImagesScrambled;

void BuildImageCatalogue() {
    for (auto& row : ImageCatalogue)
        for (auto& entry : row)
            entry.FlashSize = 0;
    const ReleaseImageSet* sets = ReleaseImageSets();
    for (int i = 0; i < ReleaseImageSetCount(); ++i)
        ImageCatalogue[sets[i].boardCode][sets[i].chipSlot] = sets[i].image;
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
