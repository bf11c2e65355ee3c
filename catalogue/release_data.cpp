// This release's image sets: one real image (board 16, chip 0xFE) and the placeholders that
// mark entries without an image. The bytes come from catalogue/data/*.bin in stored form.
#include "catalogue/release_data.h"

#include "catalogue/embedded_images.h"

namespace {

constexpr int kChip24HJ64Slot = 6;

static_assert(ImageSetFitsLimits(kChip24HJ64Slot, kImageSize_board16_fe_fix,
                                 kImageSize_board16_fe_flash, 0),
              "image set of board 16 is outside the limits of the programming sequence");
static_assert(kImageSize_placeholder == 1, "placeholders must hold no image");

const ImageDescriptor kPlaceholder{kImage_placeholder, 1, kImage_placeholder, 1,
                                   kImage_placeholder, 1};

const ReleaseImageSet kReleaseSets[] = {
    {16,
     kChip24HJ64Slot,
     {kImage_board16_fe_fix, kImageSize_board16_fe_fix, kImage_board16_fe_flash,
      kImageSize_board16_fe_flash, kImage_placeholder, 0}},
    {0, 0, kPlaceholder},
    {0, 1, kPlaceholder},
    {0, 2, kPlaceholder},
    {0, 3, kPlaceholder},
    {0, 4, kPlaceholder},
    {0, 5, kPlaceholder},
    {0, 6, kPlaceholder},
    {2, 0, kPlaceholder},
    {2, 1, kPlaceholder},
    {4, 0, kPlaceholder},
    {4, 1, kPlaceholder},
    {5, 0, kPlaceholder},
    {5, 1, kPlaceholder},
    {5, 6, kPlaceholder},
    {6, 0, kPlaceholder},
    {6, 1, kPlaceholder},
    {6, 6, kPlaceholder},
    {7, 6, kPlaceholder},
    {8, 6, kPlaceholder},
    {11, 6, kPlaceholder},
    {19, 6, kPlaceholder},
};

} // namespace

const ReleaseImageSet* ReleaseImageSets() {
    return kReleaseSets;
}
int ReleaseImageSetCount() {
    return static_cast<int>(sizeof kReleaseSets / sizeof kReleaseSets[0]);
}
